#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/card_record.h"

class CMessageIF;
class CSourceFile;
class IHostServices;

// What each maintenance task sends, waits for and makes of the replies,
// apart from any widget: the window's pages and the command line both run
// these, so a value reads the same in either and the printer sees the same
// frames and pauses.

namespace identity {

// The four engine settings, in the order the combined "MIP" request carries
// them.
struct Settings {
    std::string density;     // "FDC"
    std::string imageStart;  // "FSP"
    std::string imageEnd;    // "FEP"
    std::string position;    // "FPP"
};

struct View {
    uint32_t family = 0;
    std::string serial;
    std::string version;
    std::string productId;  // "0x%04X"
    // No value when the printer reported no model (the Model field keeps
    // what it showed before).
    std::optional<std::string> model;
    Settings settings;
};

// What a setting's field holds; a longer value is cut to it.
inline constexpr size_t kSettingTextLimit = 63;
// A value a setting's field takes: digits only, at most kSettingTextLimit.
bool IsSettingText(std::string_view text);

// The Model field for a model code; `oemName` stands for code 10.
std::string ModelLabel(int32_t code, const std::string& oemName);
// The Product ID field for the text the "PID" request left in it.
std::string ProductIdText(const std::string& reported);
// Learns the family afresh, then reads what the page shows, in its order.
// `oemName` is the model name the USB selection recorded.
View Read(CMessageIF& msg, const std::string& oemName);
// Writes the four settings: one "MIP" request on "J", "Q" and "U" printers,
// else "FDC", "FSP", "FEP", "FPP" with a pause after each.
// False when a request did not go out: the printer may hold some of the new
// settings and some of its earlier ones.
bool Save(CMessageIF& msg, IHostServices& host, const Settings& settings);

inline constexpr const char* kResetQuestion =
    "This command will set the printer configuration to default values.\n"
    "Are you sure you wish to do this?";
inline constexpr const char* kReconnectNotice =
    "Please allow the printer to reset before reconnecting";
enum class ResetResult { Declined, NotSent, Sent };
// Asks, sends "DEF,RST", waits for the printer to start its reset and says
// so.
ResetResult Reset(CMessageIF& msg, IHostServices& host);

}  // namespace identity

namespace counters {

struct Counter {
    int command;
    const char* label;  // as the page labels it
    const char* key;    // stable name for machine-readable output
};
inline constexpr int kCount = 4;
extern const std::array<Counter, kCount> kCounters;
// The four counters in the page's order; no value where none came back.
std::array<std::optional<std::string>, kCount> Read(CMessageIF& msg);

inline constexpr const char* kNoCommandWarning = "WARNING! No command entered!   ";
inline constexpr int kCommandLimit = 63;
// Sends a typed command as it stands (cut to what the page's field holds)
// and gives the printer time to act on it. False when nothing went out.
bool SendQuickCommand(CMessageIF& msg, IHostServices& host, const std::string& text);

enum class PrintResult {
    Sent,        // every byte went out
    OpenFailed,  // no file, or not a plain file: nothing sent
    TooLarge,    // 2 GiB or more: refused before reading
    ReadFailed,  // the file could not be read whole (or held): nothing sent
    Cut,         // the printer took only part of it, or nothing
};
struct PrintReport {
    PrintResult result = PrintResult::OpenFailed;
    int64_t sent = 0;    // bytes that went out
    int64_t length = 0;  // the file's length
    std::string reason;  // why the file could not be opened
};
// Sends a print file unchanged and tells the operator of anything short of
// every byte going out; `shownPath` is the path as the operator sees it.
PrintReport SendPrintFile(CMessageIF& msg, IHostServices& host, const std::string& path,
                          const std::string& shownPath);

}  // namespace counters

namespace firmware {

inline constexpr int kUpgradeSettleMs = 10000;
inline constexpr int kCountdownStepMs = 1000;
inline constexpr const char* kLaminatorExtension = ".hex";

struct ByteSum {
    uint32_t sum = 0;
    bool readFailed = false;  // the sum covers the bytes before the failure
    std::string readError;    // what the failed read met
};
// The sum of every byte of the file from its start, each taken 0 to 255,
// modulo 2^32: the number the printer reports after "CHK".
ByteSum SumBytes(CSourceFile& file);
// ".bin" for a "V" version, ".cf" and the version's first letter in lower
// case otherwise, ".cf" alone for an empty version, ".cfa" without one.
std::string ExtensionForVersion(const std::optional<std::string>& version);
// Firmware files come with names in either case: the extension test lowers
// ASCII letters only.
std::string LowerAscii(std::string text);

enum class UpgradeResult {
    Declined,      // the operator said No
    OpenFailed,    // the file cannot be opened, or is no plain file; nothing sent
    BadExtension,  // nothing sent
    SendFailed,    // sent, but the checksum did not match or "UPG" did not leave
    Upgraded,
    Empty,       // an empty file: nothing sent
    TooLarge,    // beyond the length field (2 GiB or more): nothing sent
    ReadFailed,  // a read failed part-way: the transfer went on, but not on a whole file
};
// Whether the result ends the program in the window: a transfer began.
inline bool EndsRun(UpgradeResult result) {
    return result == UpgradeResult::SendFailed || result == UpgradeResult::Upgraded ||
           result == UpgradeResult::ReadFailed;
}
struct UpgradeReport {
    UpgradeResult result = UpgradeResult::Declined;
    // Why the file could not be opened, or what the failed read met.
    std::string fileError;
};

// Opens a firmware file for the upgrades; `whyNot` says why there is none.
using FileOpener =
    std::function<std::unique_ptr<CSourceFile>(const std::string& path, std::string& whyNot)>;
std::unique_ptr<CSourceFile> OpenDiskFile(const std::string& path, std::string& whyNot);

// Asks, checks the file, sends it, compares the printer's checksum, sends
// "UPG" and waits for the printer's restart. `path` becomes the path as the
// program keeps it; `onUpgradeSent` runs right after "UPG" went out.
UpgradeReport UpgradePrinter(CMessageIF& msg, IHostServices& host, std::string& path,
                             const std::string& extension,
                             const std::function<void(const std::string&)>& onUpgradeSent = {},
                             const FileOpener& open = OpenDiskFile);
// Checks the file, asks, and sends it to the laminator.
UpgradeReport UpgradeLaminator(CMessageIF& msg, IHostServices& host, std::string& path,
                               const FileOpener& open = OpenDiskFile);
// The firmware version of a printer back from its restart after "UPG":
// asked on the link as it is and, when the printer dropped the connection
// in its restart, once more after reconnecting. No value when it did not
// answer.
std::optional<std::string> VersionAfterRestart(CMessageIF& msg);

}  // namespace firmware

namespace query_report {

// A run ends after this many items in a row for which nothing came back: a
// printer that was slow once costs one empty line, one that has stopped
// answering costs no more than these waits.
inline constexpr int kUnansweredInARow = 3;

enum class RunEnd {
    Complete,    // the printer said "END"
    Unanswered,  // kUnansweredInARow items in a row got nothing
    ItemLimit,   // the item number ran out before "END"
};

struct RunResult {
    std::vector<std::string> lines;
    RunEnd end = RunEnd::Complete;
    // Where an incomplete run stopped: the first of the unanswered items, or
    // the last item number; 0 for a complete one.
    int stoppedAt = 0;
    // Items that got nothing and stand in the report as empty lines.
    std::vector<int> unanswered;
    bool Complete() const { return end == RunEnd::Complete; }
};

// Runs a query or sensor report: the head lines, then every item until
// "END". An item nothing came back for adds an empty line and the run goes
// on, up to kUnansweredInARow such items in a row or the item number's last
// value. `onLine` sees each line as it comes, so a window can show the list
// grow.
RunResult Run(CMessageIF& msg, const char* title, int command, const std::tm& started,
              const std::function<void(const std::string&)>& onLine = {});
// What the operator is told about an incomplete report; no value for a
// complete one.
std::optional<std::string> IncompleteText(const RunResult& result);
// The saved file: every line followed by CR LF.
std::string SavedText(const std::vector<std::string>& lines);
std::tm LocalTimeNow();

}  // namespace query_report

namespace network {

inline constexpr std::array<int32_t, 5> kEthernetProductIds = {0x1800, 0x9000, 0x9001, 0x9002,
                                                               0x9003};
inline constexpr const char* kNotApplicableText = "Not Applicable";
enum AddressMode : int { kModeUnknown = -1, kModeDynamic = 0, kModeStatic = 1 };
inline constexpr int kAddressCount = 3;

bool IsEthernetProduct(int32_t productId);
// An address as the printer's settings carry it: signed decimal.
std::string AddressToWire(uint32_t address);
// No value for a reply that carries no number.
std::optional<uint32_t> AddressFromWire(const std::string& text);

struct Settings {
    int32_t productId = 0;
    bool applicable = false;
    std::optional<std::string> mac;
    int mode = kModeUnknown;
    // IP address, subnet mask, default gateway; none where none was reported
    std::array<std::optional<uint32_t>, kAddressCount> addresses;
};
// Reads the product id and, on an Ethernet printer, the MAC address, the
// mode and the three addresses, in the page's order.
Settings Read(CMessageIF& msg);
// One setting a save meant to write.
struct SettingWrite {
    int command = 0;    // cmd::DYN, cmd::IPA, cmd::SNM or cmd::GWY
    std::string value;  // as it travels
    bool sent = false;  // the whole frame went out
};
struct SaveResult {
    bool applicable = false;           // an Ethernet printer: the save was tried
    std::vector<SettingWrite> writes;  // in the order they went
    bool AllSent() const;
};
// Writes the mode (unless unknown) and every address that has a value, each
// whether or not the one before went out. Nothing on a printer that is not
// an Ethernet product.
SaveResult Save(CMessageIF& msg, int32_t productId, int mode,
                const std::array<std::optional<uint32_t>, kAddressCount>& addresses);

}  // namespace network

namespace magstripe {

inline constexpr std::array<int, cardread::kTrackCount> kTrackLimits = {76, 37, 104};
inline constexpr const char* kNoTracksText = "WARNING! No tracks selected!   \n";

// The characters a track may hold: none below the blank. The encode frame
// carries the tracks as they are, so a control character would reach the
// printer inside it, and 0x1C 0x03 there would end the frame early and make
// whatever follows a request of its own.
constexpr bool IsTrackCharacter(char c) { return static_cast<unsigned char>(c) >= 0x20; }
bool IsTrackText(std::string_view text);

// The tracks the operator ticked, each with its text; an unticked track is
// not sent, whatever text it has.
struct EncodeRequest {
    std::array<bool, cardread::kTrackCount> selected{};
    std::array<std::string, cardread::kTrackCount> text;
    bool highCoercivity = false;
};
enum class EncodeResult {
    NoTracks,   // none ticked (the operator is told); nothing sent
    Cancelled,  // no data and the operator cancelled; nothing sent
    NotSent,    // the command did not go out whole (the operator is told)
    Sent,
};
EncodeResult Encode(CMessageIF& msg, IHostServices& host, const EncodeRequest& request);
// The printer's own encoding self test. False when the request did not leave.
bool SelfTest(CMessageIF& msg, IHostServices& host);

enum class ReadOutcome { NoTracks, Refused, NotSent, Read };
struct ReadResult {
    ReadOutcome outcome = ReadOutcome::NoTracks;
    cardread::CardReadView view;
};
// Asks the printer to read the selected tracks (bit 0 track 1...) and
// judges the record; the operator is told of every refusal.
ReadResult ReadCard(CMessageIF& msg, IHostServices& host, uint8_t selection);
bool Eject(CMessageIF& msg);

}  // namespace magstripe

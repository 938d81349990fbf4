#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class CMessageIF;
class CSourceFile;
class IHostServices;

namespace firmware {

// After "UPG" the printer reprograms itself and restarts; the program
// waits this long before it says the upgrade went through.
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
struct UpgradeOutcome {
    UpgradeResult result = UpgradeResult::Declined;
    // The path as the program keeps it once the file opened (lowered where
    // file names are case-blind); as given before that.
    std::string path;
    // Why the file could not be opened, or what the failed read met.
    std::string fileError;
};

// Opens a firmware file for the upgrades; `whyNot` says why there is none.
using FileOpener =
    std::function<std::unique_ptr<CSourceFile>(const std::string& path, std::string& whyNot)>;
std::unique_ptr<CSourceFile> OpenDiskFile(const std::string& path, std::string& whyNot);

// Asks, checks the file, sends it, compares the printer's checksum, sends
// "UPG" and waits for the printer's restart. `onUpgradeSent` runs right
// after "UPG" went out, with the path as the program keeps it.
UpgradeOutcome UpgradePrinter(CMessageIF& msg, IHostServices& host, const std::string& path,
                              const std::string& extension,
                              const std::function<void(const std::string&)>& onUpgradeSent = {},
                              const FileOpener& open = OpenDiskFile);
// Checks the file, asks, and sends it to the laminator.
UpgradeOutcome UpgradeLaminator(CMessageIF& msg, IHostServices& host, const std::string& path,
                                const FileOpener& open = OpenDiskFile);
// The firmware version of a printer back from its restart after "UPG":
// asked on the link as it is and, when the printer dropped the connection
// in its restart, once more after reconnecting. No value when it did not
// answer.
std::optional<std::string> VersionAfterRestart(CMessageIF& msg);

}  // namespace firmware

#include "protocol/printer_tasks.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

#include "protocol/message_if.h"
#include "protocol/query_report.h"
#include "protocol/source_file.h"
#include "seams/host_services.h"
#include "seams/text_scan.h"
#include "seams/wait_cursor.h"

// --- identity ----------------------------------------------------------------

namespace identity {
namespace {

// The product ID is read back from its field through a 10-byte area.
constexpr size_t kProductIdDigits = 9;
// The printer takes each setting more slowly than its modify request admits.
constexpr int kSettingPauseMs = 200;
// Time for the printer to start its reset before the operator is told.
constexpr int kResetPauseMs = 500;

constexpr int32_t kOemModelCode = 10;
constexpr int32_t kFirstSpecialCode = 101;
constexpr int32_t kLastSpecialCode = 120;
constexpr int32_t kSpecialCodeBase = 100;
// Model codes 0 to 9, by code.
constexpr const char* kModelNames[] = {
    "Standard", "Kestrel Vista", "ZEF",   "Custom Logo", "Bastion Mifare",
    "Quill",    "Quill Mag",     "Sable", "Sable Mag",   "Halden",
};

std::string Limited(const std::string& text) { return text.substr(0, kSettingTextLimit); }

}  // namespace

std::string ModelLabel(int32_t code, const std::string& oemName) {
    if (code >= 0 && code < static_cast<int32_t>(std::size(kModelNames))) return kModelNames[code];
    if (code == kOemModelCode) return oemName;
    char text[32];
    if (code >= kFirstSpecialCode && code <= kLastSpecialCode) {
        std::snprintf(text, sizeof text, "Special %d", code - kSpecialCodeBase);
    } else {
        std::snprintf(text, sizeof text, "Unassigned - %d", code);
    }
    return text;
}

bool IsSettingText(std::string_view text) {
    return text.size() <= kSettingTextLimit &&
           std::all_of(text.begin(), text.end(), textscan::IsDigit);
}

std::string ProductIdText(const std::string& reported) {
    const int32_t id = CMessageIF::ToInteger(reported.substr(0, kProductIdDigits));
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
    return text;
}

View Read(CMessageIF& msg, const std::string& oemName) {
    View view;
    // Each decision between request variants goes by the family, so learn
    // it afresh: the printer on the link may have changed since the connect.
    msg.DetectPrinterFamily();
    view.family = msg.GetPrinterFamily();
    view.serial = msg.RequestStatus(cmd::MSR).value_or(std::string());
    view.version = msg.RequestStatus(cmd::VRS).value_or(std::string());
    view.productId = ProductIdText(msg.RequestStatus(cmd::PID).value_or(std::string()));
    view.settings.density = msg.RequestStatus(cmd::FDC).value_or(std::string());
    view.settings.imageStart = msg.RequestStatus(cmd::FSP).value_or(std::string());
    view.settings.imageEnd = msg.RequestStatus(cmd::FEP).value_or(std::string());
    view.settings.position = msg.RequestStatus(cmd::FPP).value_or(std::string());
    if (const std::optional<std::string> model = msg.RequestStatus(cmd::MDL)) {
        view.model = ModelLabel(CMessageIF::ToInteger(*model), oemName);
    }
    return view;
}

bool Save(CMessageIF& msg, IHostServices& host, const Settings& settings) {
    WaitCursor busy(host);
    if ((msg.GetPrinterFamily() & (family::kJ | family::kQ | family::kU)) != 0) {
        // These printers take all four settings in one request, the text
        // joined straight onto the mnemonic.
        const std::string text = Limited(settings.density) + ':' + Limited(settings.imageStart) +
                                 ':' + Limited(settings.imageEnd) + ':' +
                                 Limited(settings.position);
        return msg.SendCommandAndWait(cmd::MIP, text);
    }
    const std::pair<int, const std::string*> fields[] = {
        {cmd::FDC, &settings.density},
        {cmd::FSP, &settings.imageStart},
        {cmd::FEP, &settings.imageEnd},
        {cmd::FPP, &settings.position},
    };
    bool allSent = true;
    for (const auto& [command, text] : fields) {
        allSent = msg.SendModify(command, Limited(*text)) && allSent;
        host.Pause(kSettingPauseMs);
    }
    return allSent;
}

ResetResult Reset(CMessageIF& msg, IHostServices& host) {
    if (host.Message(kResetQuestion, MsgButtons::YesNo) != MsgResult::Yes) {
        return ResetResult::Declined;
    }
    {
        WaitCursor busy(host);
        // A reset that never left leaves the printer as it was: nothing to
        // wait for, and no restart to reconnect after.
        if (!msg.SendCommand(cmd::DEF_RST)) return ResetResult::NotSent;
        host.Pause(kResetPauseMs);
    }
    host.Message(kReconnectNotice, MsgButtons::Ok);
    return ResetResult::Sent;
}

}  // namespace identity

// --- counters and commands ---------------------------------------------------

namespace counters {
namespace {

// The printer acts on a typed command before its counters are asked again.
constexpr int kCommandPauseMs = 1000;
constexpr const char* kOpenErrorHead = "Error opening file:   \n''";
constexpr const char* kOpenErrorTail = "''   ";
constexpr const char* kReadErrorHead =
    "The print file could not be read whole; nothing was sent:\n''";
constexpr const char* kTooLargeText =
    "The print file is too large: a print file goes to the printer in one piece of less "
    "than 2 GiB. Nothing was sent.";

}  // namespace

const std::array<Counter, kCount> kCounters = {{
    {cmd::TCQ, "Total Cards Printed", "total_cards_printed"},
    {cmd::TCP, "Total No. of Cards on Printhead", "cards_on_printhead"},
    {cmd::TCN, "Total Cleaning Cycles", "cleaning_cycles"},
    {cmd::CCQ, "Cards Printed Since Last Clean", "cards_since_clean"},
}};

std::array<std::optional<std::string>, kCount> Read(CMessageIF& msg) {
    std::array<std::optional<std::string>, kCount> values;
    for (size_t i = 0; i < kCounters.size(); ++i)
        values[i] = msg.RequestStatus(kCounters[i].command);
    return values;
}

bool SendQuickCommand(CMessageIF& msg, IHostServices& host, const std::string& text) {
    const std::string command = text.substr(0, kCommandLimit);
    if (command.empty()) {
        host.Message(kNoCommandWarning, MsgButtons::Ok);
        return false;
    }
    WaitCursor busy(host);
    // Sent as typed, to any printer: the operator may add parameters and may
    // name commands this program does not know.
    const bool sent = msg.SendCommandText(command);
    host.Pause(kCommandPauseMs);
    return sent;
}

PrintReport SendPrintFile(CMessageIF& msg, IHostServices& host, const std::string& path,
                          const std::string& shownPath) {
    PrintReport report;
    const std::unique_ptr<CDiskFile> file = CDiskFile::Open(path, &report.reason);
    if (!file) {
        host.Message(kOpenErrorHead + shownPath + kOpenErrorTail, MsgButtons::Ok);
        return report;
    }
    CMessageIF::FileSendResult sent;
    {
        // A large file on a slow link takes a while; the program is not hung.
        WaitCursor busy(host);
        sent = msg.SendFile(*file);
    }
    file->Close();
    report.sent = sent.sent;
    report.length = sent.length;
    switch (sent.outcome) {
        case CMessageIF::FileSend::Sent:
            report.result = PrintResult::Sent;
            break;
        case CMessageIF::FileSend::TooLarge:
            report.result = PrintResult::TooLarge;
            host.Message(kTooLargeText, MsgButtons::Ok);
            break;
        case CMessageIF::FileSend::NoMemory:  // the operator was told
            report.result = PrintResult::ReadFailed;
            break;
        case CMessageIF::FileSend::ReadFailed:
            report.result = PrintResult::ReadFailed;
            report.reason = file->ErrorText();
            host.Message(kReadErrorHead + shownPath + kOpenErrorTail +
                             (report.reason.empty() ? "" : "\n" + report.reason),
                         MsgButtons::Ok);
            break;
        case CMessageIF::FileSend::Cut:
            report.result = PrintResult::Cut;
            host.Message(sent.sent == sent.length
                             ? "The printer closed the connection before it had taken the whole "
                               "print file."
                             : "The printer took " + std::to_string(sent.sent) + " of " +
                                   std::to_string(sent.length) + " bytes of the print file.",
                         MsgButtons::Ok);
            break;
    }
    return report;
}

}  // namespace counters

// --- firmware ------------------------------------------------------------------

namespace firmware {
namespace {

constexpr const char* kConfirmPrinterText =
    "This command will upgrade the firmware, then close the Tessaly.   \n"
    "Do you wish to continue?";
constexpr const char* kOpenErrorText = "Error opening file!";
constexpr const char* kBadExtensionText =
    "Invalid file extension for a firmware upgrade.\n"
    "Must be a .bin (29k) or .cf? (coldfile) file.";
constexpr const char* kReadErrorText = "Error reading file!";
constexpr const char* kSuccessText = "Successfully sent firmware to the printer.";
constexpr const char* kSendErrorText = "An error occurred sending the file!";
constexpr const char* kCloseErrorText = "Error closing file!";
constexpr const char* kEmptyImageText = "The firmware file is empty: nothing was sent.";
constexpr const char* kImageTooLargeText =
    "The firmware file is too large: a firmware image holds less than 2 GiB. "
    "Nothing was sent.";

constexpr const char* kLaminatorOpenErrorText = "Error opening file!   ";
constexpr const char* kLaminatorBadExtensionText =
    "Invalid file extension for a laminator  \n"
    "firmware upgrade. Must be a .hex file.  ";
constexpr const char* kConfirmLaminatorText =
    "This command will upgrade the laminator firmware,   \n"
    "then close the Tessaly.\n"
    "Do you wish to continue?";
constexpr const char* kLaminatorStartedText =
    "Firmware upgrade in progress....  \nPlease wait for laminator to reset";

// Without a firmware version the printer is taken for an "A" printer.
constexpr const char* kDefaultExtension = ".cfa";
constexpr const char* kVFamilyExtension = ".bin";
constexpr const char* kCfPrefix = ".cf";
// The byte sum in 16-bit lanes, which the compiler turns into vector adds:
// a lane takes at most 256 bytes of up to 255 before it is emptied, so it
// cannot overflow. A plain byte loop is not vectorised at the usual
// optimisation level and runs several times slower.
uint32_t SumOfBytes(const uint8_t* bytes, size_t count) {
    constexpr size_t kLanes = 32;
    constexpr size_t kRowsPerLaneFill = 256;
    uint32_t total = 0;
    size_t at = 0;
    while (count - at >= kLanes) {
        uint16_t lanes[kLanes] = {};
        const size_t rows = std::min((count - at) / kLanes, kRowsPerLaneFill);
        for (size_t row = 0; row < rows; ++row, at += kLanes) {
            for (size_t k = 0; k < kLanes; ++k) {
                lanes[k] = static_cast<uint16_t>(lanes[k] + bytes[at + k]);
            }
        }
        for (uint16_t lane : lanes) total += lane;
    }
    for (; at < count; ++at) total += bytes[at];
    return total;
}

// The extension test is case-blind. Windows file names are too, so there the
// program keeps the lowered path; on a case-sensitive file system the lowered
// path may name no file at all, so the path keeps its case and only the test
// lowers it.
std::string PathAsKept(const std::string& path) {
#ifdef _WIN32
    return LowerAscii(path);
#else
    return path;
#endif
}

// An empty image would announce itself as "FRM0" and then be installed; one
// beyond the signed 32-bit length field would announce a wrong length.
// Neither is sent.
std::optional<UpgradeResult> RefuseUnfitImage(IHostServices& host, int64_t length) {
    if (length == 0) {
        host.Message(kEmptyImageText, MsgButtons::Ok);
        return UpgradeResult::Empty;
    }
    if (length > CMessageIF::kLargestTransfer) {
        host.Message(kImageTooLargeText, MsgButtons::Ok);
        return UpgradeResult::TooLarge;
    }
    return std::nullopt;
}

std::string SecondsLeftText(int seconds) {
    return "The printer is installing its new firmware.\n" + std::to_string(seconds) +
           (seconds == 1 ? " second left" : " seconds left");
}

// The wait after "UPG", with the seconds left in the progress window.
void WaitForPrinterRestart(IHostServices& host) {
    for (int elapsed = 0; elapsed < kUpgradeSettleMs; elapsed += kCountdownStepMs) {
        const int left = kUpgradeSettleMs - elapsed;
        const int secondsLeft = (left + kCountdownStepMs - 1) / kCountdownStepMs;
        host.ShowProgress(SecondsLeftText(secondsLeft), elapsed, kUpgradeSettleMs);
        host.Pause(std::min(left, kCountdownStepMs));
    }
    host.EndProgress();
}

}  // namespace

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

ByteSum SumBytes(CSourceFile& file) {
    ByteSum result;
    const fileread::Whole read =
        fileread::InBlocks(file, -1, [&](const uint8_t* block, int64_t count) {
            result.sum += SumOfBytes(block, static_cast<size_t>(count));
            return true;
        });
    result.readFailed = read.failed;
    if (read.failed) result.readError = file.ErrorText();
    return result;
}

std::string ExtensionForVersion(const std::optional<std::string>& version) {
    if (!version) return kDefaultExtension;
    // An empty version is still an answer: it names no letter, so the
    // extension is ".cf" alone rather than a guessed family's.
    if (version->empty()) return kCfPrefix;
    const char first = (*version)[0];
    if (first == 'V') return kVFamilyExtension;
    return kCfPrefix + LowerAscii(std::string(1, first));
}

std::unique_ptr<CSourceFile> OpenDiskFile(const std::string& path, std::string& whyNot) {
    return CDiskFile::Open(path, &whyNot);
}

UpgradeReport UpgradePrinter(CMessageIF& msg, IHostServices& host, std::string& path,
                             const std::string& extension,
                             const std::function<void(const std::string&)>& onUpgradeSent,
                             const FileOpener& open) {
    UpgradeReport report;
    if (host.Message(kConfirmPrinterText, MsgButtons::YesNo) != MsgResult::Yes) return report;
    std::unique_ptr<CSourceFile> file;
    report.result = UpgradeResult::SendFailed;
    {
        WaitCursor wait(host);
        file = open(path, report.fileError);
        if (!file) {
            host.Message(kOpenErrorText, MsgButtons::Ok);
            report.result = UpgradeResult::OpenFailed;
            return report;
        }
        path = PathAsKept(path);
        if (LowerAscii(path).find(extension) == std::string::npos) {
            host.Message(kBadExtensionText, MsgButtons::Ok);
            report.result = UpgradeResult::BadExtension;
            return report;
        }
        if (const std::optional<UpgradeResult> unfit = RefuseUnfitImage(host, file->Length())) {
            report.result = *unfit;
            return report;
        }

        const ByteSum sum = SumBytes(*file);
        if (sum.readFailed) {
            // The transfer still goes on, but the outcome cannot be a success.
            host.Message(kReadErrorText, MsgButtons::Ok);
            report.fileError = sum.readError;
        }

        // The printer states its sum as a signed decimal, so an image whose
        // sum reaches 2^31 comes back negative: compare the 32 bits.
        const std::optional<int32_t> reported = msg.SendFirmwareImage(*file);
        // The image is only installed once "UPG" reaches the printer; a
        // command that never left must not be followed by the wait and the
        // success box.
        const bool matched = reported && static_cast<uint32_t>(*reported) == sum.sum;
        if (matched && msg.SendCommand(cmd::UPG)) {
            if (onUpgradeSent) onUpgradeSent(path);
            WaitForPrinterRestart(host);
            host.Message(kSuccessText, MsgButtons::Ok);
            report.result = UpgradeResult::Upgraded;
        } else {
            host.Message(kSendErrorText, MsgButtons::Ok);
        }
        if (sum.readFailed) report.result = UpgradeResult::ReadFailed;
    }
    if (!file->Close()) host.Message(kCloseErrorText, MsgButtons::Ok);
    return report;
}

UpgradeReport UpgradeLaminator(CMessageIF& msg, IHostServices& host, std::string& path,
                               const FileOpener& open) {
    UpgradeReport report;
    std::unique_ptr<CSourceFile> file;
    bool sent = false;
    {
        WaitCursor wait(host);
        file = open(path, report.fileError);
        if (!file) {
            host.Message(kLaminatorOpenErrorText, MsgButtons::Ok);
            report.result = UpgradeResult::OpenFailed;
            return report;
        }
        path = PathAsKept(path);
        if (LowerAscii(path).find(kLaminatorExtension) == std::string::npos) {
            host.Message(kLaminatorBadExtensionText, MsgButtons::Ok);
            report.result = UpgradeResult::BadExtension;
            return report;
        }
        if (const std::optional<UpgradeResult> unfit = RefuseUnfitImage(host, file->Length())) {
            report.result = *unfit;
            return report;
        }
        if (host.Message(kConfirmLaminatorText, MsgButtons::YesNo) != MsgResult::Yes) {
            report.result = UpgradeResult::Declined;
            return report;
        }
        // The laminator acknowledges nothing: it resets once it has the file.
        sent = msg.SendLaminatorFirmware(*file);
    }
    if (!file->Close()) host.Message(kCloseErrorText, MsgButtons::Ok);
    host.Message(sent ? kLaminatorStartedText : kSendErrorText, MsgButtons::Ok);
    report.result = sent ? UpgradeResult::Upgraded : UpgradeResult::SendFailed;
    return report;
}

std::optional<std::string> VersionAfterRestart(CMessageIF& msg) {
    if (std::optional<std::string> version = msg.RequestStatus(cmd::VRS)) return version;
    // A printer that restarts drops its connections: reach it afresh.
    if (!msg.ConnectPrinter()) return std::nullopt;
    return msg.RequestStatus(cmd::VRS);
}

}  // namespace firmware

// --- query and sensor reports --------------------------------------------------

namespace query_report {

RunResult Run(CMessageIF& msg, const char* title, int command, const std::tm& started,
              const std::function<void(const std::string&)>& onLine) {
    const int linkKind = msg.CurrentLinkKind().value_or(kLinkParallel);
    RunResult result;
    const auto add = [&](std::string line) {
        if (onLine) onLine(line);
        result.lines.push_back(std::move(line));
    };
    for (std::string& line : HeadLines(title, linkKind, started)) add(std::move(line));
    // An item that got nothing (a request the family gate or the link held
    // back, a silent or closed printer, a reply that is no text) stands as an
    // empty line once a later item is answered. The last items before the
    // run gave up were never followed by an answer: they show nothing.
    std::vector<int> pending;
    for (int item = kFirstItem;; ++item) {
        // A printer that never says "END" would otherwise be asked forever;
        // the next item number would wrap.
        if (item > kLastItem) {
            result.end = RunEnd::ItemLimit;
            result.stoppedAt = kLastItem;
            break;
        }
        const std::string reply = msg.RequestNumbered(command, static_cast<int8_t>(item));
        if (reply.empty()) {
            pending.push_back(item);
            if (static_cast<int>(pending.size()) < kUnansweredInARow) continue;
            result.end = RunEnd::Unanswered;
            result.stoppedAt = pending.front();
            break;
        }
        for (const int gap : pending) {
            result.unanswered.push_back(gap);
            add(std::string());
        }
        pending.clear();
        if (reply == kEndReply) {
            result.end = RunEnd::Complete;
            break;
        }
        if (reply == kSkipReply) continue;
        for (std::string& line : SplitReply(reply)) add(std::move(line));
    }
    return result;
}

std::optional<std::string> IncompleteText(const RunResult& result) {
    switch (result.end) {
        case RunEnd::Complete:
            break;
        case RunEnd::Unanswered:
            return "The printer stopped answering at item " + std::to_string(result.stoppedAt) +
                   ": the report is incomplete.";
        case RunEnd::ItemLimit:
            return "The printer sent no end of the report by item " +
                   std::to_string(result.stoppedAt) + ": the report is incomplete.";
    }
    return std::nullopt;
}

std::string SavedText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

}  // namespace query_report

// --- network settings ----------------------------------------------------------

namespace network {
namespace {

constexpr const char* kDynamicValue = "1";
constexpr const char* kStaticValue = "0";
constexpr int kAddressCommands[kAddressCount] = {cmd::IPA, cmd::SNM, cmd::GWY};

}  // namespace

bool IsEthernetProduct(int32_t productId) {
    return std::find(kEthernetProductIds.begin(), kEthernetProductIds.end(), productId) !=
           kEthernetProductIds.end();
}

std::string AddressToWire(uint32_t address) {
    return std::to_string(static_cast<int32_t>(address));
}

std::optional<uint32_t> AddressFromWire(const std::string& text) {
    // A reply such as "IPA," carries no address; showing 0.0.0.0 for it
    // would put a value on screen that the printer never sent.
    if (!textscan::HasLeadingInteger(text)) return std::nullopt;
    return static_cast<uint32_t>(textscan::LeadingInteger(text));
}

Settings Read(CMessageIF& msg) {
    Settings settings;
    // Without a product id there is no telling whether the printer has an
    // interface to configure; treating it as one could write to a printer
    // that does not understand the settings.
    const std::optional<std::string> productId = msg.RequestStatus(cmd::PID);
    settings.productId = productId ? CMessageIF::ToInteger(*productId) : 0;
    settings.applicable = IsEthernetProduct(settings.productId);
    if (!settings.applicable) return settings;

    settings.mac = msg.RequestStatus(cmd::MAC);
    // Only the exact text "1" means dynamic addressing; a mode the printer
    // did not report is left unknown rather than guessed.
    if (const std::optional<std::string> mode = msg.RequestStatus(cmd::DYN)) {
        settings.mode = *mode == kDynamicValue ? kModeDynamic : kModeStatic;
    }
    for (int i = 0; i < kAddressCount; ++i) {
        const std::optional<std::string> value = msg.RequestStatus(kAddressCommands[i]);
        settings.addresses[static_cast<size_t>(i)] = value ? AddressFromWire(*value) : std::nullopt;
    }
    return settings;
}

bool SaveResult::AllSent() const {
    return applicable && std::all_of(writes.begin(), writes.end(),
                                     [](const SettingWrite& write) { return write.sent; });
}

SaveResult Save(CMessageIF& msg, int32_t productId, int mode,
                const std::array<std::optional<uint32_t>, kAddressCount>& addresses) {
    SaveResult result;
    result.applicable = IsEthernetProduct(productId);
    if (!result.applicable) return result;
    // A write that fails reconnects and the save goes on: each setting is
    // its own request, and those after a lost one may still reach the
    // printer. Which went out is the caller's to report.
    const auto write = [&](int command, std::string value) {
        const bool sent = msg.SendModify(command, value);
        result.writes.push_back({command, std::move(value), sent});
    };
    // With no mode reported and none chosen, the printer keeps the one it
    // has: writing "static" would be a choice nobody made.
    if (mode != kModeUnknown) write(cmd::DYN, mode == kModeDynamic ? kDynamicValue : kStaticValue);
    // The addresses go whatever the mode: a printer set to dynamic keeps
    // them for the day it is switched back to static. An address without a
    // value (the printer reported none and nobody gave one) is not sent as
    // 0.0.0.0, which would overwrite one the printer keeps.
    for (int i = 0; i < kAddressCount; ++i) {
        const std::optional<uint32_t>& address = addresses[static_cast<size_t>(i)];
        if (address) write(kAddressCommands[i], AddressToWire(*address));
    }
    return result;
}

}  // namespace network

// --- magnetic stripe -----------------------------------------------------------

namespace magstripe {
namespace {

constexpr const char* kEncodeNotSentText =
    "The encode command did not reach the printer: the card was not encoded.";

}  // namespace

bool IsTrackText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsTrackCharacter);
}

EncodeResult Encode(CMessageIF& msg, IHostServices& host, const EncodeRequest& request) {
    std::array<std::string, cardread::kTrackCount> tracks;
    bool anySelected = false;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (!request.selected[i]) continue;
        anySelected = true;
        tracks[i] = request.text[i].substr(0, static_cast<size_t>(kTrackLimits[i]));
    }
    if (!anySelected) {
        host.Message(kNoTracksText, MsgButtons::Ok);
        return EncodeResult::NoTracks;
    }
    switch (msg.SendMagneticEncode(tracks[0], tracks[1], tracks[2], request.highCoercivity)) {
        case CMessageIF::EncodeSend::Cancelled:
            return EncodeResult::Cancelled;
        case CMessageIF::EncodeSend::NotSent:
            // The card stays as it was: the operator must not take it for
            // encoded.
            host.Message(kEncodeNotSentText, MsgButtons::Ok);
            return EncodeResult::NotSent;
        case CMessageIF::EncodeSend::Sent:
            break;
    }
    return EncodeResult::Sent;
}

bool SelfTest(CMessageIF& msg, IHostServices& host) {
    if (!msg.SendCommandText(std::string(kCommandTable[cmd::ENC].mnemonic))) return false;
    // The printer starts moving the card; give it a moment before the next
    // request.
    host.Pause(CMessageIF::kShortPauseMs);
    return true;
}

ReadResult ReadCard(CMessageIF& msg, IHostServices& host, uint8_t selection) {
    ReadResult result;
    if (selection == 0) {
        host.Message(kNoTracksText, MsgButtons::Ok);
        return result;
    }
    std::optional<std::string> refusal;
    {
        const WaitCursor wait(host);
        const uint32_t printerFamily = msg.GetPrinterFamily();
        refusal = cardread::FirmwareGateMessage(printerFamily, msg.RequestStatus(cmd::VRS));
    }
    if (refusal) {
        host.Message(*refusal, MsgButtons::Ok);
        result.outcome = ReadOutcome::Refused;
        return result;
    }

    std::array<uint8_t, cardread::kRecordSize> record{};
    int received = 0;
    {
        const WaitCursor wait(host);
        // A request that never left has no record coming; whatever link a
        // reconnect made meanwhile holds nothing of this read.
        if (!msg.SendCommand(cmd::MSV, std::string(1, static_cast<char>(selection)))) {
            result.outcome = ReadOutcome::NotSent;
            return result;
        }
        received = msg.ReadFixedReply(record.data());
    }
    result.outcome = ReadOutcome::Read;
    result.view =
        cardread::DecodeCardRecord(record, static_cast<size_t>(std::max(received, 0)), selection);
    if (result.view.verdict == cardread::RecordVerdict::WrongLength) {
        host.Message(cardread::kFirmwareIncompatibleText, MsgButtons::Ok);
    }
    return result;
}

bool Eject(CMessageIF& msg) {
    return msg.SendCommandText(std::string(kCommandTable[cmd::EJT].mnemonic));
}

}  // namespace magstripe

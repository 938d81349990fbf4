#include "tasks/firmware.h"

#include <algorithm>
#include <memory>

#include "protocol/message_if.h"
#include "protocol/source_file.h"
#include "seams/host_services.h"
#include "seams/wait_cursor.h"

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

// What the operator is told of a file that cannot be an image.
struct ImageRefusals {
    const char* openError;
    const char* badExtension;
};

// Opens the image and checks its name and its length; no file when one
// check failed, the operator told why and `outcome` holding the result.
// `outcome.path` becomes the path as the program keeps it.
std::unique_ptr<CSourceFile> OpenImage(IHostServices& host, const FileOpener& open,
                                       const std::string& extension, const ImageRefusals& refusals,
                                       UpgradeOutcome& outcome) {
    std::unique_ptr<CSourceFile> file = open(outcome.path, outcome.fileError);
    if (!file) {
        host.Message(refusals.openError, MsgButtons::Ok);
        outcome.result = UpgradeResult::OpenFailed;
        return nullptr;
    }
    outcome.path = PathAsKept(outcome.path);
    if (LowerAscii(outcome.path).find(extension) == std::string::npos) {
        host.Message(refusals.badExtension, MsgButtons::Ok);
        outcome.result = UpgradeResult::BadExtension;
        return nullptr;
    }
    if (const std::optional<UpgradeResult> unfit = RefuseUnfitImage(host, file->Length())) {
        outcome.result = *unfit;
        return nullptr;
    }
    return file;
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

UpgradeOutcome UpgradePrinter(CMessageIF& msg, IHostServices& host, const std::string& path,
                              const std::string& extension,
                              const std::function<void(const std::string&)>& onUpgradeSent,
                              const FileOpener& open) {
    UpgradeOutcome outcome;
    outcome.path = path;
    if (host.Message(kConfirmPrinterText, MsgButtons::YesNo) != MsgResult::Yes) return outcome;
    std::unique_ptr<CSourceFile> file;
    {
        WaitCursor wait(host);
        file = OpenImage(host, open, extension, {kOpenErrorText, kBadExtensionText}, outcome);
        if (!file) return outcome;
        outcome.result = UpgradeResult::SendFailed;

        const ByteSum sum = SumBytes(*file);
        if (sum.readFailed) {
            // The transfer still goes on, but the outcome cannot be a success.
            host.Message(kReadErrorText, MsgButtons::Ok);
            outcome.fileError = sum.readError;
        }

        // The printer states its sum as a signed decimal, so an image whose
        // sum reaches 2^31 comes back negative: compare the 32 bits.
        const std::optional<int32_t> reported = msg.SendFirmwareImage(*file);
        // The image is only installed once "UPG" reaches the printer; a
        // command that never left must not be followed by the wait and the
        // success box.
        const bool matched = reported && static_cast<uint32_t>(*reported) == sum.sum;
        if (matched && msg.SendCommand(cmd::UPG)) {
            if (onUpgradeSent) onUpgradeSent(outcome.path);
            WaitForPrinterRestart(host);
            host.Message(kSuccessText, MsgButtons::Ok);
            outcome.result = UpgradeResult::Upgraded;
        } else {
            host.Message(kSendErrorText, MsgButtons::Ok);
        }
        if (sum.readFailed) outcome.result = UpgradeResult::ReadFailed;
    }
    if (!file->Close()) host.Message(kCloseErrorText, MsgButtons::Ok);
    return outcome;
}

UpgradeOutcome UpgradeLaminator(CMessageIF& msg, IHostServices& host, const std::string& path,
                                const FileOpener& open) {
    UpgradeOutcome outcome;
    outcome.path = path;
    std::unique_ptr<CSourceFile> file;
    bool sent = false;
    {
        WaitCursor wait(host);
        file = OpenImage(host, open, kLaminatorExtension,
                         {kLaminatorOpenErrorText, kLaminatorBadExtensionText}, outcome);
        if (!file) return outcome;
        if (host.Message(kConfirmLaminatorText, MsgButtons::YesNo) != MsgResult::Yes) {
            outcome.result = UpgradeResult::Declined;
            return outcome;
        }
        // The laminator acknowledges nothing: it resets once it has the file.
        sent = msg.SendLaminatorFirmware(*file);
    }
    if (!file->Close()) host.Message(kCloseErrorText, MsgButtons::Ok);
    host.Message(sent ? kLaminatorStartedText : kSendErrorText, MsgButtons::Ok);
    outcome.result = sent ? UpgradeResult::Upgraded : UpgradeResult::SendFailed;
    return outcome;
}

std::optional<std::string> VersionAfterRestart(CMessageIF& msg) {
    if (std::optional<std::string> version = msg.RequestStatus(cmd::VRS)) return version;
    // A printer that restarts drops its connections: reach it afresh.
    if (!msg.ConnectPrinter()) return std::nullopt;
    return msg.RequestStatus(cmd::VRS);
}

}  // namespace firmware

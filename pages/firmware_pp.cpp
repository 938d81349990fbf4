#include "pages/firmware_pp.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <memory>

#include "pages/firmware_path_store.h"
#include "pages/local_path.h"
#include "protocol/message_if.h"
#include "protocol/source_file.h"
#include "seams/wait_cursor.h"

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
constexpr const char* kNotApplicableText = "Not applicable";

constexpr const char* kPrinterFilterName = "Velmora Firmware Files";
constexpr const char* kLaminatorFilterName = "Laminator Firmware Files";
constexpr const char* kLaminatorExtension = ".hex";
// Without a firmware version the printer is taken for an "A" printer.
constexpr const char* kDefaultExtension = ".cfa";
constexpr const char* kVFamilyExtension = ".bin";
constexpr const char* kCfPrefix = ".cf";

// The sheet's modal run ends with OK: the program closes.
constexpr int kEndResultOk = 1;
// Reads for the checksum go through a buffer of this size.
constexpr int64_t kSumBufferSize = 4096;

// Firmware files come from the maker with names in either case, so the
// extension test is case-blind for ASCII letters; other bytes (UTF-8
// sequences included) stay as they are, as lowering them could change a
// multi-byte name into another.
std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The extension test is case-blind. Windows file names are too, so there the
// page keeps the lowered path; on a case-sensitive file system the lowered
// path may name no file at all, so the path keeps its case and only the test
// lowers it.
std::string PathAsKept(const std::string& path) {
#ifdef _WIN32
    return LowerAscii(path);
#else
    return path;
#endif
}

std::string FilterFor(const char* name, const std::string& extension) {
    return std::string(name) + " (*" + extension + ")";
}

std::string SecondsLeftText(int seconds) {
    return "The printer is installing its new firmware.\n" + std::to_string(seconds) +
           (seconds == 1 ? " second left" : " seconds left");
}

}  // namespace

CFirmwarePP::CFirmwarePP(const PageContext& context, QWidget* parent)
    : CPageBase(context, QStringLiteral("Upgrade Firmware"), parent),
      m_extension(kDefaultExtension) {
    SetTemplateSize(333, 153);

    // Group boxes first, so the controls drawn over their frames stay on top.
    auto* printerGroup = new QGroupBox(QStringLiteral("Printer firmware"), this);
    Place(printerGroup, 7, 7, 319, 62);
    m_laminatorGroup = new QGroupBox(QStringLiteral("Laminator firmware"), this);
    m_laminatorGroup->setObjectName(QString::fromLatin1(Id::kLaminatorGroup));
    Place(m_laminatorGroup, 7, 80, 319, 62);

    // Both groups label their path "Firmware File:"; the names say whose.
    m_printerPathEdit = AddEdit(Id::kPrinterFile, true);
    Place(AddLabel(QStringLiteral("Firmware File:"), m_printerPathEdit), 17, 24, 48, 8);
    m_printerPathEdit->setAccessibleName(QStringLiteral("Printer firmware file"));
    Place(m_printerPathEdit, 67, 22, 249, 12);
    m_printerSelect = AddButton(QStringLiteral("Select File"), Id::kPrinterSelect);
    Place(m_printerSelect, 187, 44, 60, 14);
    m_printerUpgrade = AddButton(QStringLiteral("Upgrade"), Id::kPrinterUpgrade);
    m_printerUpgrade->setDefault(true);
    Place(m_printerUpgrade, 256, 44, 60, 14);

    m_laminatorPathEdit = AddEdit(Id::kLaminatorFile, true);
    m_laminatorLabel = AddLabel(QStringLiteral("Firmware File:"), m_laminatorPathEdit);
    m_laminatorLabel->setObjectName(QString::fromLatin1(Id::kLaminatorLabel));
    Place(m_laminatorLabel, 17, 97, 48, 8);
    m_laminatorPathEdit->setAccessibleName(QStringLiteral("Laminator firmware file"));
    Place(m_laminatorPathEdit, 67, 95, 249, 12);
    m_laminatorSelect = AddButton(QStringLiteral("Select File"), Id::kLaminatorSelect);
    Place(m_laminatorSelect, 187, 117, 60, 14);
    m_laminatorUpgrade = AddButton(QStringLiteral("Upgrade"), Id::kLaminatorUpgrade);
    Place(m_laminatorUpgrade, 256, 117, 60, 14);

    connect(m_printerSelect, &QPushButton::clicked, this, &CFirmwarePP::OnChoosePrinterFile);
    connect(m_printerUpgrade, &QPushButton::clicked, this, &CFirmwarePP::OnUpgradePrinter);
    connect(m_laminatorSelect, &QPushButton::clicked, this, &CFirmwarePP::OnChooseLaminatorFile);
    connect(m_laminatorUpgrade, &QPushButton::clicked, this, &CFirmwarePP::OnUpgradeLaminator);
}

CFirmwarePP::ByteSum CFirmwarePP::SumBytes(CSourceFile& file) {
    ByteSum result;
    file.SeekToStart();
    uint8_t buffer[kSumBufferSize];
    for (;;) {
        const int64_t got = file.Read(buffer, kSumBufferSize);
        if (got < 0) {
            result.readFailed = true;
            break;
        }
        if (got == 0) break;
        for (int64_t i = 0; i < got; ++i) result.sum += buffer[i];
    }
    return result;
}

std::string CFirmwarePP::ExtensionForVersion(const std::optional<std::string>& version) {
    if (!version) return kDefaultExtension;
    // An empty version is still an answer: it names no letter, so the
    // extension is ".cf" alone rather than a guessed family's.
    if (version->empty()) return kCfPrefix;
    const char first = (*version)[0];
    if (first == 'V') return kVFamilyExtension;
    return kCfPrefix + LowerAscii(std::string(1, first));
}

void CFirmwarePP::OnInitDialog() {
    m_printerPath = CFirmwarePathStore::Load();
    m_printerPathEdit->setText(DisplayPath(m_printerPath));

    m_extension = ExtensionForVersion(Msg().RequestStatus(cmd::VRS));

    if (Msg().GetPrinterFamily() != family::kH) {
        for (QWidget* control : std::initializer_list<QWidget*>{
                 m_laminatorGroup, m_laminatorLabel, m_laminatorPathEdit, m_laminatorSelect,
                 m_laminatorUpgrade}) {
            control->setEnabled(false);
        }
        m_laminatorPathEdit->setText(QString::fromLatin1(kNotApplicableText));
    }
}

void CFirmwarePP::OnSetActive() {
    // The sheet's pages share one default button; on this tab Enter upgrades.
    MakeDefault(m_printerUpgrade);
}

void CFirmwarePP::OnChoosePrinterFile() {
    const std::optional<std::string> path =
        Host().GetOpenFileName(FilterFor(kPrinterFilterName, m_extension));
    if (!path) return;
    m_printerPath = *path;
    m_printerPathEdit->setText(DisplayPath(m_printerPath));
}

void CFirmwarePP::OnUpgradePrinter() {
    if (Host().Message(kConfirmPrinterText, MsgButtons::YesNo) != MsgResult::Yes) return;

    std::unique_ptr<CDiskFile> file;
    {
        WaitCursor wait(Host());
        file = CDiskFile::Open(m_printerPath);
        if (!file) {
            Host().Message(kOpenErrorText, MsgButtons::Ok);
            return;
        }
        m_printerPath = PathAsKept(m_printerPath);
        if (LowerAscii(m_printerPath).find(m_extension) == std::string::npos) {
            Host().Message(kBadExtensionText, MsgButtons::Ok);
            return;
        }

        const ByteSum sum = SumBytes(*file);
        if (sum.readFailed) Host().Message(kReadErrorText, MsgButtons::Ok);

        // The printer states its sum as a signed decimal, so an image whose
        // sum reaches 2^31 comes back negative: compare the 32 bits.
        const std::optional<int32_t> reported = Msg().SendFirmwareImage(*file);
        // The image is only installed once "UPG" reaches the printer; a
        // command that never left must not be followed by the wait and the
        // success box.
        const bool matched = reported && static_cast<uint32_t>(*reported) == sum.sum;
        if (matched && Msg().SendCommand(cmd::UPG)) {
            CFirmwarePathStore::Store(m_printerPath);
            WaitForPrinterRestart();
            Host().Message(kSuccessText, MsgButtons::Ok);
        } else {
            Host().Message(kSendErrorText, MsgButtons::Ok);
        }
    }
    if (!file->Close()) Host().Message(kCloseErrorText, MsgButtons::Ok);
    // Either way the printer is no longer what the pages read: after an
    // upgrade it restarts, after a broken transfer it holds a partial image.
    Sheet().EndDialog(kEndResultOk);
}

void CFirmwarePP::WaitForPrinterRestart() {
    for (int elapsed = 0; elapsed < kUpgradeSettleMs; elapsed += kCountdownStepMs) {
        const int left = kUpgradeSettleMs - elapsed;
        const int secondsLeft = (left + kCountdownStepMs - 1) / kCountdownStepMs;
        Host().ShowProgress(SecondsLeftText(secondsLeft), elapsed, kUpgradeSettleMs);
        Host().Pause(std::min(left, kCountdownStepMs));
    }
    Host().EndProgress();
}

void CFirmwarePP::OnChooseLaminatorFile() {
    const std::optional<std::string> path =
        Host().GetOpenFileName(FilterFor(kLaminatorFilterName, kLaminatorExtension));
    if (!path) return;
    m_laminatorPath = *path;
    m_laminatorPathEdit->setText(DisplayPath(m_laminatorPath));
}

void CFirmwarePP::OnUpgradeLaminator() {
    std::unique_ptr<CDiskFile> file;
    bool sent = false;
    {
        WaitCursor wait(Host());
        file = CDiskFile::Open(m_laminatorPath);
        if (!file) {
            Host().Message(kLaminatorOpenErrorText, MsgButtons::Ok);
            return;
        }
        m_laminatorPath = PathAsKept(m_laminatorPath);
        if (LowerAscii(m_laminatorPath).find(kLaminatorExtension) == std::string::npos) {
            Host().Message(kLaminatorBadExtensionText, MsgButtons::Ok);
            return;
        }
        if (Host().Message(kConfirmLaminatorText, MsgButtons::YesNo) != MsgResult::Yes) return;
        // The laminator acknowledges nothing: it resets once it has the file.
        sent = Msg().SendLaminatorFirmware(*file);
    }
    if (!file->Close()) Host().Message(kCloseErrorText, MsgButtons::Ok);
    Host().Message(sent ? kLaminatorStartedText : kSendErrorText, MsgButtons::Ok);
    Sheet().EndDialog(kEndResultOk);
}

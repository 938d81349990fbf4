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
#include "seams/page_services.h"
#include "seams/wait_cursor.h"
#include "tasks/firmware.h"

namespace {

constexpr const char* kNotApplicableText = "Not applicable";

constexpr const char* kPrinterFilterName = "Velmora Firmware Files";
constexpr const char* kLaminatorFilterName = "Laminator Firmware Files";
constexpr const char* kLaminatorExtension = firmware::kLaminatorExtension;
// Without a firmware version the printer is taken for an "A" printer.
constexpr const char* kDefaultExtension = ".cfa";

// The sheet's modal run ends with OK: the program closes.
constexpr int kEndResultOk = 1;

std::string FilterFor(const char* name, const std::string& extension) {
    return std::string(name) + " (*" + extension + ")";
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

void CFirmwarePP::OnInitDialog() {
    m_printerPath = CFirmwarePathStore::Load();
    m_printerPathEdit->setText(DisplayPath(m_printerPath));

    m_extension = firmware::ExtensionForVersion(Msg().RequestStatus(cmd::VRS));

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
        Pages().GetOpenFileName(FilterFor(kPrinterFilterName, m_extension));
    if (!path) return;
    m_printerPath = *path;
    m_printerPathEdit->setText(DisplayPath(m_printerPath));
}

void CFirmwarePP::OnUpgradePrinter() {
    const firmware::UpgradeOutcome outcome =
        firmware::UpgradePrinter(Msg(), Host(), m_printerPath, m_extension,
                                 [](const std::string& path) { CFirmwarePathStore::Store(path); });
    m_printerPath = outcome.path;
    // Either way the printer is no longer what the pages read: after an
    // upgrade it restarts, after a broken transfer it holds a partial image.
    if (firmware::EndsRun(outcome.result)) Sheet().EndDialog(kEndResultOk);
}

void CFirmwarePP::OnChooseLaminatorFile() {
    const std::optional<std::string> path =
        Pages().GetOpenFileName(FilterFor(kLaminatorFilterName, kLaminatorExtension));
    if (!path) return;
    m_laminatorPath = *path;
    m_laminatorPathEdit->setText(DisplayPath(m_laminatorPath));
}

void CFirmwarePP::OnUpgradeLaminator() {
    const firmware::UpgradeOutcome outcome =
        firmware::UpgradeLaminator(Msg(), Host(), m_laminatorPath);
    m_laminatorPath = outcome.path;
    if (firmware::EndsRun(outcome.result)) Sheet().EndDialog(kEndResultOk);
}

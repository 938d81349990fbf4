#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pages/page_base.h"
#include "tasks/firmware.h"

class CSourceFile;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Upgrade Firmware" page: loads a firmware image into the printer, or a
// firmware file into a laminator attached to an "H" family printer, then
// ends the program (the printer restarts into the new firmware, and the
// connection with it).
class CFirmwarePP : public CPageBase {
    Q_OBJECT

public:
    // After "UPG" the printer reprograms itself and restarts; the program
    // waits this long before it says the upgrade went through.
    static constexpr int kUpgradeSettleMs = firmware::kUpgradeSettleMs;
    static constexpr int kCountdownStepMs = firmware::kCountdownStepMs;

    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kPrinterSelect = "1066";
        static constexpr const char* kPrinterFile = "1067";
        static constexpr const char* kPrinterUpgrade = "1068";
        static constexpr const char* kLaminatorUpgrade = "1104";
        static constexpr const char* kLaminatorSelect = "1146";
        static constexpr const char* kLaminatorFile = "1147";
        static constexpr const char* kLaminatorLabel = "1148";
        static constexpr const char* kLaminatorGroup = "1149";
    };

    explicit CFirmwarePP(const PageContext& context, QWidget* parent = nullptr);

    using ByteSum = firmware::ByteSum;
    // The sum of every byte of the file from its start, each taken 0 to 255,
    // modulo 2^32: the number the printer reports after "CHK".
    static ByteSum SumBytes(CSourceFile& file);

    // The printer firmware extension chosen from the firmware version: ".bin"
    // for a "V" version, ".cf" and the version's first letter in lower case
    // otherwise, ".cf" alone for an empty version, ".cfa" without one.
    static std::string ExtensionForVersion(const std::optional<std::string>& version);

    const std::string& PrinterPath() const { return m_printerPath; }
    const std::string& LaminatorPath() const { return m_laminatorPath; }

protected:
    void OnInitDialog() override;
    void OnSetActive() override;

private:
    void OnChoosePrinterFile();
    void OnUpgradePrinter();
    void OnChooseLaminatorFile();
    void OnUpgradeLaminator();

    std::string m_printerPath;
    std::string m_laminatorPath;
    std::string m_extension;

    QLineEdit* m_printerPathEdit = nullptr;
    QPushButton* m_printerSelect = nullptr;
    QPushButton* m_printerUpgrade = nullptr;
    QGroupBox* m_laminatorGroup = nullptr;
    QLabel* m_laminatorLabel = nullptr;
    QLineEdit* m_laminatorPathEdit = nullptr;
    QPushButton* m_laminatorSelect = nullptr;
    QPushButton* m_laminatorUpgrade = nullptr;
};

#pragma once

#include <string>

#include "pages/page_base.h"

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

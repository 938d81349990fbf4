#pragma once

#include <cstdint>
#include <string>

#include "pages/page_base.h"

class QLineEdit;
class QPushButton;

// The "Printer Identity" page: who the printer is (serial number, model,
// firmware version, product ID) and the four print-engine settings, which
// the operator may save or reset to the factory values. Every value is read
// from the printer whenever the page is shown; the page keeps none itself.
class CPrinterIdentityPP : public CPageBase {
    Q_OBJECT

public:
    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kSerialNumber = "1000";
        static constexpr const char* kModel = "1002";
        static constexpr const char* kFirmwareVersion = "1003";
        static constexpr const char* kProductId = "1004";
        static constexpr const char* kImageStart = "1047";
        static constexpr const char* kImageEnd = "1048";
        static constexpr const char* kDensity = "1051";
        static constexpr const char* kReset = "1055";
        static constexpr const char* kSave = "1065";
        static constexpr const char* kRefresh = "1066";
        static constexpr const char* kPosition = "1119";
    };

    explicit CPrinterIdentityPP(const PageContext& context, QWidget* parent = nullptr);

    // The button Enter presses on this page: "Refresh", or "Save" once a
    // setting has changed.
    QPushButton* DefaultButton() const { return m_defaultButton; }

protected:
    void OnInitDialog() override;
    void OnSetActive() override;
    void showEvent(QShowEvent* event) override;

private:
    void Refresh();
    void OnRefreshClicked();
    void OnSave();
    void OnReset();
    void SetDefaultButton(QPushButton* button);

    QLineEdit* m_serial = nullptr;
    QLineEdit* m_model = nullptr;
    QLineEdit* m_version = nullptr;
    QLineEdit* m_productId = nullptr;
    QLineEdit* m_imageStart = nullptr;
    QLineEdit* m_imageEnd = nullptr;
    QLineEdit* m_density = nullptr;
    QLineEdit* m_position = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_defaultButton = nullptr;
};

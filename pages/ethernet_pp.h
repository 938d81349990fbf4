#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "pages/page_base.h"
#include "tasks/network.h"

class CIpAddressEdit;
class QButtonGroup;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The "Ethernet" page: the printer's own network settings (MAC address,
// address mode, fixed IP address, subnet mask, default gateway), read on
// every visit and written to the printer's permanent memory on request.
// Printers without an Ethernet interface get "Not Applicable" and a page
// that does nothing.
class CEthernetPP : public CPageBase {
    Q_OBJECT

public:
    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kReadCurrent = "1104";
        static constexpr const char* kMac = "1111";
        static constexpr const char* kDynamic = "1112";
        static constexpr const char* kStatic = "1113";
        static constexpr const char* kIpAddress = "1114";
        static constexpr const char* kSubnetMask = "1115";
        static constexpr const char* kGateway = "1116";
        static constexpr const char* kSave = "1117";
    };

    // "PID" values of the models that carry an Ethernet interface.
    static constexpr std::array<int32_t, 5> kEthernetProductIds = network::kEthernetProductIds;
    static constexpr const char* kNotApplicableText = network::kNotApplicableText;

    enum AddressMode : int {
        kModeUnknown = network::kModeUnknown,
        kModeDynamic = network::kModeDynamic,
        kModeStatic = network::kModeStatic
    };

    explicit CEthernetPP(const PageContext& context, QWidget* parent = nullptr);

    int AddressMode() const { return m_addressMode; }

protected:
    void OnInitDialog() override;
    void OnSetActive() override;

private:
    void Refresh();
    void SaveToFlash();
    void ShowNotApplicable();
    void SetControlsEnabled(bool enabled);
    void ShowAddressMode();

    QLineEdit* m_mac = nullptr;
    QRadioButton* m_dynamic = nullptr;
    QRadioButton* m_static = nullptr;
    QButtonGroup* m_modeButtons = nullptr;
    CIpAddressEdit* m_ipAddress = nullptr;
    CIpAddressEdit* m_subnetMask = nullptr;
    CIpAddressEdit* m_gateway = nullptr;
    QPushButton* m_readCurrent = nullptr;
    QPushButton* m_save = nullptr;
    int m_addressMode = kModeUnknown;
};

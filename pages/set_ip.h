#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class CIpAddressEdit;
class QPushButton;

// Takes the printer's IP address before an Ethernet connection. OK stores it
// in `address` (the program state's printer address) for the Ethernet link;
// Cancel leaves it.
class CSetIP : public QDialog {
    Q_OBJECT

public:
    // 192.168.102.0: the printers' factory network. Every opening starts from
    // it rather than from the last address entered.
    static constexpr uint32_t kDefaultAddress = 0xC0A86600;

    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kOk = "1";
        static constexpr const char* kCancel = "2";
        static constexpr const char* kAddress = "1118";
    };

    explicit CSetIP(uint32_t& address, QWidget* parent = nullptr);

    CIpAddressEdit* AddressField() const { return m_address; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

public slots:
    void accept() override;

private:
    uint32_t& m_stored;
    CIpAddressEdit* m_address = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

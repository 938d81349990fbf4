#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <memory>
#include <string>
#include <vector>

#include "controls/ip_address_edit.h"
#include "gui_helpers.h"
#include "links/program_state.h"
#include "pages/ethernet_pp.h"
#include "sim_page_rig.h"

namespace {

using Id = CEthernetPP::Id;

// The page's controls by id.
struct EthernetControls {
    QLineEdit* mac;
    QRadioButton* dynamic;
    QRadioButton* fixed;
    CIpAddressEdit* ip;
    CIpAddressEdit* mask;
    CIpAddressEdit* gateway;
    QPushButton* readCurrent;
    QPushButton* save;

    explicit EthernetControls(CEthernetPP& page)
        : mac(page.findChild<QLineEdit*>(Id::kMac)),
          dynamic(page.findChild<QRadioButton*>(Id::kDynamic)),
          fixed(page.findChild<QRadioButton*>(Id::kStatic)),
          ip(page.findChild<CIpAddressEdit*>(Id::kIpAddress)),
          mask(page.findChild<CIpAddressEdit*>(Id::kSubnetMask)),
          gateway(page.findChild<CIpAddressEdit*>(Id::kGateway)),
          readCurrent(page.findChild<QPushButton*>(Id::kReadCurrent)),
          save(page.findChild<QPushButton*>(Id::kSave)) {}

    bool Complete() const {
        return mac && dynamic && fixed && ip && mask && gateway && readCurrent && save;
    }
    std::vector<QWidget*> All() const {
        return {mac, dynamic, fixed, ip, mask, gateway, readCurrent, save};
    }
};

// What an address field shows: dotted text, blank fields as empty.
QString Shown(const CIpAddressEdit* field) {
    QStringList parts;
    for (int i = 0; i < CIpAddressEdit::kFieldCount; ++i) parts << field->Field(i)->text();
    return parts.join('.');
}

}  // namespace

TEST(EthernetPage, ControlsCarryTheirIdsTextsAndNames) {
    SimPageRig rig;
    CEthernetPP page(rig.context);
    EthernetControls c(page);
    ASSERT_TRUE(c.Complete());

    EXPECT_EQ(c.dynamic->text(), "Dynamic");
    EXPECT_EQ(c.fixed->text(), "Static");
    EXPECT_EQ(c.readCurrent->text(), "Read Current");
    EXPECT_EQ(c.save->text(), "Save to FLASH");
    EXPECT_FALSE(c.mac->isEnabled());
    EXPECT_FALSE(c.dynamic->isChecked());
    EXPECT_FALSE(c.fixed->isChecked());
    EXPECT_EQ(page.AddressMode(), CEthernetPP::kModeUnknown);

    // The labels name the fields; the mode's label describes its first
    // button, which keeps its own text as its name.
    EXPECT_EQ(c.mac->accessibleName(), "MAC address (HEX)");
    EXPECT_EQ(c.dynamic->accessibleDescription(), "IP address mode");
    EXPECT_EQ(c.ip->accessibleName(), "IP address");
    EXPECT_EQ(c.mask->accessibleName(), "Subnet mask");
    EXPECT_EQ(c.gateway->accessibleName(), "Default gateway");
    QStringList labels;
    for (QLabel* label : page.findChildren<QLabel*>()) {
        if (label->buddy()) labels << label->text();
    }
    for (const char* text :
         {"MAC address (HEX)", "IP address mode", "IP address", "Subnet mask", "Default gateway"}) {
        EXPECT_TRUE(labels.contains(text)) << text;
    }
    QStringList frames;
    for (QGroupBox* box : page.findChildren<QGroupBox*>()) frames << box->title();
    frames.sort();
    EXPECT_EQ(frames, QStringList({"", "", "Static"}));

    // Nothing is asked of the printer before the page is first shown.
    EXPECT_TRUE(rig.printer->Frames().empty());
}

// What goes out is the task's rule; the page hands it the mode chosen and
// each address shown. A value the printer did not report and nobody typed
// has none: neither a mode nobody chose nor a blank address over the one the
// printer keeps. A field the operator emptied is sent, its blanks as 0.
TEST(EthernetPage, SaveHandsOnWhatTheOperatorSeesAndNothingUnreported) {
    SimPageRig rig;
    rig.Remove("DYN");
    rig.Remove("SNM");
    CEthernetPP page(rig.context);
    EthernetControls c(page);
    ASSERT_TRUE(c.Complete());
    page.Activate();
    ASSERT_FALSE(c.dynamic->isChecked() || c.fixed->isChecked());
    ASSERT_TRUE(c.mask->IsBlank());

    rig.Forget();
    c.save->click();
    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"IPA", "GWY"}));
    EXPECT_EQ(rig.printer->Value("SNM"), std::nullopt);
    EXPECT_EQ(rig.host.waitCursorShows, 1);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);

    c.fixed->click();
    c.mask->Field(0)->setText(QStringLiteral("255"));
    rig.Forget();
    c.save->click();
    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"DYN", "IPA", "SNM", "GWY"}));
    EXPECT_EQ(rig.printer->Value("DYN"), "0");
    EXPECT_EQ(rig.printer->Value("SNM"), "-16777216");

    // Emptied by the operator, the one typed and the one the printer
    // reported alike.
    c.dynamic->click();
    EXPECT_EQ(page.AddressMode(), CEthernetPP::kModeDynamic);
    for (CIpAddressEdit* field : {c.mask, c.gateway}) {
        for (int i = 0; i < CIpAddressEdit::kFieldCount; ++i) {
            field->Field(i)->selectAll();
            gui::KeyClick(field->Field(i), Qt::Key_Delete);
        }
        ASSERT_TRUE(field->IsBlank());
    }
    c.ip->SetAddress(0xC0A86600);  // 192.168.102.0
    rig.Forget();
    c.save->click();
    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"DYN", "IPA", "SNM", "GWY"}));
    EXPECT_EQ(rig.printer->Value("DYN"), "1");
    EXPECT_EQ(rig.printer->Value("IPA"), "-1062705664");
    EXPECT_EQ(rig.printer->Value("SNM"), "0");
    EXPECT_EQ(rig.printer->Value("GWY"), "0");
    EXPECT_TRUE(rig.host.boxes.empty());
}

TEST(EthernetPage, EveryVisitAndReadCurrentShowTheCurrentSettings) {
    SimPageRig rig;
    rig.Remove("PID");
    CEthernetPP page(rig.context);
    EthernetControls c(page);
    ASSERT_TRUE(c.Complete());
    page.Activate();
    ASSERT_EQ(c.mac->text(), "Not Applicable");

    // The printer now says who it is: the next visit brings the whole page
    // back, buttons included.
    rig.printer->SetValue("PID", "36864");
    rig.Forget();
    page.Activate();
    EXPECT_EQ(rig.Mnemonics().size(), 6u);
    for (QWidget* control : c.All()) EXPECT_TRUE(control->isEnabled());
    EXPECT_TRUE(c.fixed->isChecked());
    EXPECT_EQ(Shown(c.ip), "192.168.102.50");
    // The MAC address is shown, never typed.
    gui::KeyClick(c.mac, Qt::Key_X, QStringLiteral("X"));
    EXPECT_EQ(c.mac->text(), "00:1B:2C:3D:4E:5F");
    EXPECT_EQ(rig.state.ethernetPageProductId, 36864);

    // Changed behind the page's back, seen at a click of "Read Current".
    rig.printer->SetValue("DYN", "1");
    rig.printer->SetValue("GWY", "-1062705663");
    rig.Forget();
    c.readCurrent->click();
    EXPECT_EQ(rig.Mnemonics().size(), 6u);
    EXPECT_TRUE(c.dynamic->isChecked());
    EXPECT_EQ(Shown(c.gateway), "192.168.102.1");
    EXPECT_EQ(rig.host.waitCursorShows, 1);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);

    // A printer that stops identifying as an Ethernet model takes the old
    // settings off the page with it.
    rig.printer->SetValue("PID", "0");
    c.readCurrent->click();
    EXPECT_EQ(c.mac->text(), "Not Applicable");
    EXPECT_EQ(Shown(c.gateway), "...");
    EXPECT_FALSE(c.dynamic->isChecked() || c.fixed->isChecked());
    for (QWidget* control : c.All()) EXPECT_FALSE(control->isEnabled());
}

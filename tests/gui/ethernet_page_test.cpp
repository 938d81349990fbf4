#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <vector>

#include "controls/ip_address_edit.h"
#include "gui_helpers.h"
#include "links/program_state.h"
#include "pages/ethernet_pp.h"
#include "sim_page_rig.h"

namespace {

using Id = CEthernetPP::Id;

// The page on the simulated printer, not yet shown, and its controls by id.
struct EthernetRig : SimPageRig {
    CEthernetPP page{context};
    QLineEdit* mac = gui::Edit(page, Id::kMac);
    QRadioButton* dynamic = gui::Control<QRadioButton>(page, Id::kDynamic);
    QRadioButton* fixed = gui::Control<QRadioButton>(page, Id::kStatic);
    CIpAddressEdit* ip = gui::Control<CIpAddressEdit>(page, Id::kIpAddress);
    CIpAddressEdit* mask = gui::Control<CIpAddressEdit>(page, Id::kSubnetMask);
    CIpAddressEdit* gateway = gui::Control<CIpAddressEdit>(page, Id::kGateway);
    QPushButton* readCurrent = gui::Button(page, Id::kReadCurrent);
    QPushButton* save = gui::Button(page, Id::kSave);

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
    EthernetRig rig;
    ASSERT_TRUE(rig.Complete());

    EXPECT_EQ(rig.dynamic->text(), "Dynamic");
    EXPECT_EQ(rig.fixed->text(), "Static");
    EXPECT_EQ(rig.readCurrent->text(), "Read Current");
    EXPECT_EQ(rig.save->text(), "Save to FLASH");
    EXPECT_FALSE(rig.mac->isEnabled());
    EXPECT_FALSE(rig.dynamic->isChecked());
    EXPECT_FALSE(rig.fixed->isChecked());
    EXPECT_EQ(rig.page.AddressMode(), CEthernetPP::kModeUnknown);

    // The labels name the fields; the mode's label describes its first
    // button, which keeps its own text as its name.
    EXPECT_EQ(rig.mac->accessibleName(), "MAC address (HEX)");
    EXPECT_EQ(rig.dynamic->accessibleDescription(), "IP address mode");
    EXPECT_EQ(rig.ip->accessibleName(), "IP address");
    EXPECT_EQ(rig.mask->accessibleName(), "Subnet mask");
    EXPECT_EQ(rig.gateway->accessibleName(), "Default gateway");
    QStringList labels;
    for (QLabel* label : rig.page.findChildren<QLabel*>()) {
        if (label->buddy()) labels << label->text();
    }
    for (const char* text :
         {"MAC address (HEX)", "IP address mode", "IP address", "Subnet mask", "Default gateway"}) {
        EXPECT_TRUE(labels.contains(text)) << text;
    }
    QStringList frames;
    for (QGroupBox* box : rig.page.findChildren<QGroupBox*>()) frames << box->title();
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
    EthernetRig rig;
    ASSERT_TRUE(rig.Complete());
    rig.Remove("DYN");
    rig.Remove("SNM");
    rig.page.Activate();
    ASSERT_FALSE(rig.dynamic->isChecked() || rig.fixed->isChecked());
    ASSERT_TRUE(rig.mask->IsBlank());

    rig.Forget();
    rig.save->click();
    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"IPA", "GWY"}));
    EXPECT_EQ(rig.printer->Value("SNM"), std::nullopt);
    EXPECT_EQ(rig.host.waitCursorShows, 1);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);

    rig.fixed->click();
    rig.mask->Field(0)->setText(QStringLiteral("255"));
    rig.Forget();
    rig.save->click();
    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"DYN", "IPA", "SNM", "GWY"}));
    EXPECT_EQ(rig.printer->Value("DYN"), "0");
    EXPECT_EQ(rig.printer->Value("SNM"), "-16777216");

    // Emptied by the operator, the one typed and the one the printer
    // reported alike.
    rig.dynamic->click();
    EXPECT_EQ(rig.page.AddressMode(), CEthernetPP::kModeDynamic);
    for (CIpAddressEdit* field : {rig.mask, rig.gateway}) {
        for (int i = 0; i < CIpAddressEdit::kFieldCount; ++i) {
            field->Field(i)->selectAll();
            gui::KeyClick(field->Field(i), Qt::Key_Delete);
        }
        ASSERT_TRUE(field->IsBlank());
    }
    rig.ip->SetAddress(0xC0A86600);  // 192.168.102.0
    rig.Forget();
    rig.save->click();
    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"DYN", "IPA", "SNM", "GWY"}));
    EXPECT_EQ(rig.printer->Value("DYN"), "1");
    EXPECT_EQ(rig.printer->Value("IPA"), "-1062705664");
    EXPECT_EQ(rig.printer->Value("SNM"), "0");
    EXPECT_EQ(rig.printer->Value("GWY"), "0");
    EXPECT_TRUE(rig.host.boxes.empty());
}

TEST(EthernetPage, EveryVisitAndReadCurrentShowTheCurrentSettings) {
    EthernetRig rig;
    ASSERT_TRUE(rig.Complete());
    rig.Remove("PID");
    rig.page.Activate();
    ASSERT_EQ(rig.mac->text(), "Not Applicable");

    // The printer now says who it is: the next visit brings the whole page
    // back, buttons included.
    rig.printer->SetValue("PID", "36864");
    rig.Forget();
    rig.page.Activate();
    EXPECT_EQ(rig.Mnemonics().size(), 6u);
    for (QWidget* control : rig.All()) EXPECT_TRUE(control->isEnabled());
    EXPECT_TRUE(rig.fixed->isChecked());
    EXPECT_EQ(Shown(rig.ip), "192.168.102.50");
    // The MAC address is shown, never typed.
    gui::KeyClick(rig.mac, Qt::Key_X, QStringLiteral("X"));
    EXPECT_EQ(rig.mac->text(), "00:1B:2C:3D:4E:5F");
    EXPECT_EQ(rig.state.ethernetPageProductId, 36864);

    // Changed behind the page's back, seen at a click of "Read Current".
    rig.printer->SetValue("DYN", "1");
    rig.printer->SetValue("GWY", "-1062705663");
    rig.Forget();
    rig.readCurrent->click();
    EXPECT_EQ(rig.Mnemonics().size(), 6u);
    EXPECT_TRUE(rig.dynamic->isChecked());
    EXPECT_EQ(Shown(rig.gateway), "192.168.102.1");
    EXPECT_EQ(rig.host.waitCursorShows, 1);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);

    // A printer that stops identifying as an Ethernet model takes the old
    // settings off the page with it.
    rig.printer->SetValue("PID", "0");
    rig.readCurrent->click();
    EXPECT_EQ(rig.mac->text(), "Not Applicable");
    EXPECT_EQ(Shown(rig.gateway), "...");
    EXPECT_FALSE(rig.dynamic->isChecked() || rig.fixed->isChecked());
    for (QWidget* control : rig.All()) EXPECT_FALSE(control->isEnabled());
}

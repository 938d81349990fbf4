#include "pages/set_ip.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "controls/ip_address_edit.h"
#include "gui_helpers.h"

namespace {

constexpr uint32_t kDefault = 0xC0A86600;  // 192.168.102.0

// Runs a fresh dialog modally, as the Comms page does, with `answer` acting
// inside it; returns the dialog's result.
int RunDialog(uint32_t& address, const std::function<void(CSetIP&)>& answer) {
    gui::ModalWatch watch([&answer](QWidget* modal) {
        auto* dialog = qobject_cast<CSetIP*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "another window opened";
            modal->close();
            return;
        }
        answer(*dialog);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the answer left the dialog open";
            dialog->reject();
        }
    });
    CSetIP dialog(address);
    const int result = dialog.exec();
    EXPECT_TRUE(watch.Ran());
    return result;
}

}  // namespace

TEST(SetIpDialog, ControlsCarryTheirIdsTextsAndNames) {
    uint32_t address = 0;
    CSetIP dialog(address);
    EXPECT_EQ(dialog.windowTitle(), "Set IP address");

    auto* field = dialog.findChild<CIpAddressEdit*>(CSetIP::Id::kAddress);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->accessibleName(), "Enter IP address of printer");
    for (int i = 0; i < CIpAddressEdit::kFieldCount; ++i) {
        EXPECT_FALSE(field->Field(i)->accessibleName().isEmpty()) << i;
    }

    auto* ok = dialog.findChild<QPushButton*>(CSetIP::Id::kOk);
    auto* cancel = dialog.findChild<QPushButton*>(CSetIP::Id::kCancel);
    ASSERT_NE(ok, nullptr);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(cancel->text(), "Cancel");

    QLabel* label = dialog.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Enter IP address of printer");
    EXPECT_EQ(label->buddy(), field);
    // Label over field over buttons, OK before Cancel, all inside the dialog.
    EXPECT_LT(label->geometry().bottom(), field->geometry().top());
    EXPECT_LT(field->geometry().bottom(), ok->geometry().top());
    EXPECT_LT(ok->geometry().right(), cancel->geometry().left());
    EXPECT_TRUE(dialog.rect().contains(cancel->geometry()));
    EXPECT_TRUE(dialog.rect().contains(field->geometry()));
}

TEST(SetIpDialog, EveryOpeningStartsAtTheDefaultWithTheCaretInTheFourthField) {
    uint32_t address = 0;
    for (int opening = 0; opening < 2; ++opening) {
        RunDialog(address, [opening](CSetIP& dialog) {
            EXPECT_EQ(dialog.AddressField()->Address(), kDefault) << opening;
            EXPECT_EQ(dialog.focusWidget(), dialog.AddressField()->Field(3)) << opening;
            EXPECT_EQ(dialog.AddressField()->Field(3)->selectedText(), "0") << opening;
            // Confirm something else, so the second opening could show it.
            dialog.AddressField()->SetAddress(0x0A0B0C0D);
            gui::Click(dialog.OkButton());
        });
    }
}

TEST(SetIpDialog, OkStoresTheFieldValue) {
    struct Case {
        const char* name;
        std::function<void(CSetIP&)> edit;
        uint32_t stored;
    };
    const Case cases[] = {
        {"untouched", [](CSetIP&) {}, kDefault},
        {"fourth field retyped", [](CSetIP& d) { gui::Type(&d, "77"); }, 0xC0A8664D},
    };
    for (const Case& c : cases) {
        uint32_t address = 0x01020304;
        const int result = RunDialog(address, [&c](CSetIP& dialog) {
            c.edit(dialog);
            gui::Click(dialog.OkButton());
        });
        EXPECT_EQ(result, QDialog::Accepted) << c.name;
        EXPECT_EQ(address, c.stored) << c.name;
    }
}

TEST(SetIpDialog, CancelAndEscapeLeaveTheAddressAsItWas) {
    const std::function<void(CSetIP&)> leaves[] = {
        [](CSetIP& d) { gui::Click(d.CancelButton()); },
        [](CSetIP& d) { gui::KeyClick(d.focusWidget(), Qt::Key_Escape); },
    };
    for (const auto& leave : leaves) {
        uint32_t address = 0x0A000001;
        const int result = RunDialog(address, [&leave](CSetIP& dialog) {
            gui::Type(&dialog, "77");
            leave(dialog);
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_EQ(address, 0x0A000001u);
    }
}

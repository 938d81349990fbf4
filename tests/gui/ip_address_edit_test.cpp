#include "controls/ip_address_edit.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <optional>

#include "gui_helpers.h"

namespace {

// The control in a shown window, ready for typing.
struct EditRig {
    QWidget window;
    CIpAddressEdit* edit = new CIpAddressEdit(&window);

    EditRig() {
        window.show();
        edit->Clear();
        edit->SetFieldFocus(0);
    }
    QStringList Texts() const {
        QStringList texts;
        for (int i = 0; i < CIpAddressEdit::kFieldCount; ++i) texts << edit->Field(i)->text();
        return texts;
    }
    QWidget* Focused() const { return window.focusWidget(); }
};

}  // namespace

TEST(IpAddressEdit, BlankFieldsReadAsZero) {
    CIpAddressEdit edit;
    edit.SetAddress(0x0A010203);
    edit.Field(0)->clear();
    edit.Field(2)->clear();
    EXPECT_EQ(edit.Address(), 0x00010003u);
    edit.Clear();
    EXPECT_TRUE(edit.IsBlank());
    EXPECT_EQ(edit.Address(), 0u);
}

TEST(IpAddressEdit, TypingFlowsAcrossTheFields) {
    struct Case {
        const char* typed;
        QStringList fields;
        std::optional<uint32_t> before = {};  // the address shown before typing
    };
    const Case cases[] = {
        {"10.1.2.3", {"10", "1", "2", "3"}},
        {"192168102001", {"192", "168", "102", "001"}},  // three digits move on
        {"127.0.0.1", {"127", "0", "0", "1"}},  // "." after a full field is not a second move
        {"127..5", {"127", "5", "", ""}},
        {"1 2 3 4", {"1", "2", "3", "4"}},  // space works as "."
        {"..7", {"7", "", "", ""}},         // "." from a blank field stays
        {"300", {"30", "", "", ""}},        // no field beyond 255
        {"2569", {"25", "", "", ""}},
        {"255.256", {"255", "25", "", ""}},
        {"1.2.3.4.5", {"1", "2", "3", "45"}},  // nothing after the last field
        {"a1b", {"1", "", "", ""}},            // digits only
        // Typing over an address replaces it field by field.
        {"127.0.0.1", {"127", "0", "0", "1"}, 0xC0A86600},
    };
    for (const Case& c : cases) {
        EditRig rig;
        if (c.before) {
            rig.edit->SetAddress(*c.before);
            rig.edit->SetFieldFocus(0);
        }
        gui::Type(&rig.window, c.typed);
        EXPECT_EQ(rig.Texts(), c.fields) << c.typed;
    }
}

TEST(IpAddressEdit, BackspaceAndArrowsCrossFieldEdges) {
    EditRig rig;
    gui::Type(&rig.window, "10.20");
    ASSERT_EQ(rig.Focused(), rig.edit->Field(1));

    gui::KeyClick(rig.Focused(), Qt::Key_Backspace);
    gui::KeyClick(rig.Focused(), Qt::Key_Backspace);
    EXPECT_EQ(rig.Texts(), (QStringList{"10", "", "", ""}));
    EXPECT_EQ(rig.Focused(), rig.edit->Field(1));
    // An empty field: Backspace goes back and deletes there.
    gui::KeyClick(rig.Focused(), Qt::Key_Backspace);
    EXPECT_EQ(rig.Focused(), rig.edit->Field(0));
    EXPECT_EQ(rig.edit->CurrentField(), 0);
    gui::KeyClick(rig.Focused(), Qt::Key_Backspace);
    EXPECT_EQ(rig.Texts(), (QStringList{"1", "", "", ""}));

    // Right at the end of a field enters the next; Left at its start returns.
    gui::KeyClick(rig.Focused(), Qt::Key_Right);
    EXPECT_EQ(rig.Focused(), rig.edit->Field(1));
    gui::KeyClick(rig.Focused(), Qt::Key_Left);
    EXPECT_EQ(rig.Focused(), rig.edit->Field(0));
    EXPECT_EQ(rig.edit->Field(0)->cursorPosition(), 1);
    // Left inside a field just moves the caret.
    gui::KeyClick(rig.Focused(), Qt::Key_Left);
    EXPECT_EQ(rig.Focused(), rig.edit->Field(0));
    EXPECT_EQ(rig.edit->Field(0)->cursorPosition(), 0);
}

// A mouse click on any of the four numbers puts the caret there, and the
// address then wears the focus outline a line edit wears.
TEST(IpAddressEdit, ClickPutsTheCaretInThatNumberAndShowsFocus) {
    for (int clicked = 0; clicked < CIpAddressEdit::kFieldCount; ++clicked) {
        EditRig rig;
        rig.window.resize(240, 100);
        rig.edit->resize(rig.edit->sizeHint());
        auto* other = new QLineEdit(&rig.window);
        other->setGeometry(0, 60, 100, 20);
        other->show();
        rig.window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.window));
        other->setFocus();
        const QImage unfocused = rig.edit->grab().toImage();

        QLineEdit* field = rig.edit->Field(clicked);
        const QPoint inWindow = field->mapTo(&rig.window, field->rect().center());
        QTest::mouseClick(rig.window.windowHandle(), Qt::LeftButton, {}, inWindow);
        EXPECT_EQ(rig.Focused(), field) << "number " << clicked + 1;
        const QPoint topEdge(unfocused.width() / 2, 0);
        EXPECT_NE(rig.edit->grab().toImage().pixel(topEdge), unfocused.pixel(topEdge))
            << clicked + 1;
    }
}

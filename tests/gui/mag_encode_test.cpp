#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <string>
#include <vector>

#include "gui_helpers.h"
#include "pages/mag_encoding_pp.h"
#include "sim_page_rig.h"

namespace {

using Id = CMagEncodingPP::Id;

struct MagControls {
    std::array<QCheckBox*, 3> ticks;
    std::array<QLineEdit*, 3> data;
    QCheckBox* hiCo;
    QPushButton* encode;
    QPushButton* selfTest;

    explicit MagControls(CMagEncodingPP& page)
        : hiCo(page.findChild<QCheckBox*>(Id::kHighCoercivity)),
          encode(page.findChild<QPushButton*>(Id::kEncode)),
          selfTest(page.findChild<QPushButton*>(Id::kSelfTest)) {
        for (int i = 0; i < CMagEncodingPP::kTrackCount; ++i) {
            ticks[i] = page.findChild<QCheckBox*>(Id::kTrackTicks[i]);
            data[i] = page.findChild<QLineEdit*>(Id::kTrackData[i]);
        }
    }

    bool Complete() const {
        for (int i = 0; i < 3; ++i) {
            if (!ticks[i] || !data[i]) return false;
        }
        return hiCo && encode && selfTest;
    }
};

// Keystrokes into one edit box, as the keyboard delivers them.
void TypeInto(QLineEdit* edit, const QString& text) {
    for (QChar c : text) gui::KeyClick(edit, c.toUpper().unicode(), QString(c));
}

// The magnetic encode frames the printer received.
std::vector<std::string> EncodeFrames(const CSimPrinter& printer) {
    std::vector<std::string> frames;
    for (const SimFrame& frame : printer.Frames()) {
        if (frame.kind == SimFrameKind::MagEncode) frames.push_back(frame.bytes);
    }
    return frames;
}

}  // namespace

TEST(MagEncodePage, ControlsCarryTheirIdsTextsLimitsAndNames) {
    SimPageRig rig;
    CMagEncodingPP page(rig.context);
    MagControls c(page);
    ASSERT_TRUE(c.Complete());

    EXPECT_EQ(c.selfTest->text(), "Self Test Magnetic Encode");
    EXPECT_EQ(c.encode->text(), "Encode");
    EXPECT_EQ(c.hiCo->text(), "Hi Co");
    EXPECT_FALSE(c.hiCo->isChecked());
    const char* names[] = {"Track1", "Track2", "Track3"};
    const int limits[] = {76, 37, 104};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c.ticks[i]->text(), names[i]);
        EXPECT_FALSE(c.ticks[i]->isChecked());
        EXPECT_EQ(c.data[i]->text(), "");
        EXPECT_EQ(c.data[i]->maxLength(), limits[i]);
        EXPECT_FALSE(c.data[i]->accessibleName().isEmpty());
    }

    QStringList labels;
    for (QLabel* label : page.findChildren<QLabel*>()) labels << label->text();
    labels.sort();
    EXPECT_EQ(labels, QStringList({"<Enter data only>", "?", "?", "?", "~1,%", "~2,;", "~3,;"}));
    auto* frame = page.findChild<QGroupBox*>();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->title(), "Direct Magnetic Encoding");
}

TEST(MagEncodePage, TrackBoxesTakeTheirLimitsAndTrackOneInCapitals) {
    SimPageRig rig;
    CMagEncodingPP page(rig.context);
    MagControls c(page);
    ASSERT_TRUE(c.Complete());

    TypeInto(c.data[0], "doe^jane 12");
    EXPECT_EQ(c.data[0]->text(), "DOE^JANE 12");
    // Pasted text too.
    c.data[0]->clear();
    c.data[0]->insert("b4000^smith");
    EXPECT_EQ(c.data[0]->text(), "B4000^SMITH");
    // Only track 1 converts.
    TypeInto(c.data[1], "12ab");
    EXPECT_EQ(c.data[1]->text(), "12ab");

    // Characters without an 8-bit form would reach the card as '?'.
    TypeInto(c.data[2], QString::fromUtf8("1\u20ac2"));
    EXPECT_EQ(c.data[2]->text(), "12");
    // Nor may a pasted control character end the encode frame early.
    c.data[1]->clear();
    c.data[1]->insert("12\x1c\x03REQ,UPG,");
    EXPECT_EQ(c.data[1]->text(), "");

    for (int i = 0; i < 3; ++i) {
        c.data[i]->clear();
        TypeInto(c.data[i], QString(120, QLatin1Char('7')));
        EXPECT_EQ(c.data[i]->text().size(), c.data[i]->maxLength()) << i;
    }
}

// What goes out is the task's rule; the page hands it the ticks, the texts
// as the boxes hold them and the Hi Co box.
TEST(MagEncodePage, EncodeSendsWhatTheControlsHold) {
    SimPageRig rig;
    rig.printer->SetValue("MDL", "10");
    CMagEncodingPP page(rig.context);
    MagControls c(page);
    ASSERT_TRUE(c.Complete());
    page.Activate();
    const char* typed[] = {"abc^def", "123=45", "999"};
    for (int i = 0; i < 3; ++i) {
        c.ticks[i]->click();
        TypeInto(c.data[i], typed[i]);
    }
    c.ticks[1]->click();  // unticked again
    c.hiCo->click();
    c.encode->click();

    EXPECT_EQ(EncodeFrames(*rig.printer),
              std::vector<std::string>{"\x01NOC1,MGVON,VER5,COEH,MAG1,ABC^DEF,MAG3,999\x1c\x03"});
    EXPECT_TRUE(rig.host.boxes.empty());
}

TEST(MagEncodePage, SelfTestSendsEnc) {
    SimPageRig rig;
    CMagEncodingPP page(rig.context);
    MagControls(page).selfTest->click();
    EXPECT_EQ(Requests(*rig.printer), std::vector<std::string>{"REQ,ENC"});
}

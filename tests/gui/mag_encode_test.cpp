#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>
#include <vector>

#include "gui_helpers.h"
#include "pages/mag_encoding_pp.h"
#include "sim_page_rig.h"

namespace {

using Id = CMagEncodingPP::Id;

// The page on the simulated printer and its controls by id.
struct MagEncodeRig : SimPageRig {
    CMagEncodingPP page{context};
    QCheckBox* hiCo = gui::Control<QCheckBox>(page, Id::kHighCoercivity);
    QPushButton* encode = gui::Button(page, Id::kEncode);
    QPushButton* selfTest = gui::Button(page, Id::kSelfTest);

    QCheckBox* Tick(int i) const { return gui::Control<QCheckBox>(page, Id::kTrackTicks[i]); }
    QLineEdit* Data(int i) const { return gui::Edit(page, Id::kTrackData[i]); }

    bool Complete() const {
        for (int i = 0; i < CMagEncodingPP::kTrackCount; ++i) {
            if (!Tick(i) || !Data(i)) return false;
        }
        return hiCo && encode && selfTest;
    }
};

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
    MagEncodeRig rig;
    ASSERT_TRUE(rig.Complete());

    EXPECT_EQ(rig.selfTest->text(), "Self Test Magnetic Encode");
    EXPECT_EQ(rig.encode->text(), "Encode");
    EXPECT_EQ(rig.hiCo->text(), "Hi Co");
    EXPECT_FALSE(rig.hiCo->isChecked());
    const char* names[] = {"Track1", "Track2", "Track3"};
    const int limits[] = {76, 37, 104};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rig.Tick(i)->text(), names[i]);
        EXPECT_FALSE(rig.Tick(i)->isChecked());
        EXPECT_EQ(rig.Data(i)->text(), "");
        EXPECT_EQ(rig.Data(i)->maxLength(), limits[i]);
        EXPECT_FALSE(rig.Data(i)->accessibleName().isEmpty());
    }

    QStringList labels;
    for (QLabel* label : rig.page.findChildren<QLabel*>()) labels << label->text();
    labels.sort();
    EXPECT_EQ(labels, QStringList({"<Enter data only>", "?", "?", "?", "~1,%", "~2,;", "~3,;"}));
    auto* frame = rig.page.findChild<QGroupBox*>();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->title(), "Direct Magnetic Encoding");
}

TEST(MagEncodePage, TrackBoxesTakeTheirLimitsAndTrackOneInCapitals) {
    MagEncodeRig rig;
    ASSERT_TRUE(rig.Complete());

    gui::Type(rig.Data(0), "doe^jane 12");
    EXPECT_EQ(rig.Data(0)->text(), "DOE^JANE 12");
    // Pasted text too.
    rig.Data(0)->clear();
    rig.Data(0)->insert("b4000^smith");
    EXPECT_EQ(rig.Data(0)->text(), "B4000^SMITH");
    // Only track 1 converts.
    gui::Type(rig.Data(1), "12ab");
    EXPECT_EQ(rig.Data(1)->text(), "12ab");

    // Characters without an 8-bit form would reach the card as '?'.
    gui::Type(rig.Data(2), QString::fromUtf8("1\u20ac2"));
    EXPECT_EQ(rig.Data(2)->text(), "12");
    // Nor may a pasted control character end the encode frame early.
    rig.Data(1)->clear();
    rig.Data(1)->insert("12\x1c\x03REQ,UPG,");
    EXPECT_EQ(rig.Data(1)->text(), "");

    for (int i = 0; i < 3; ++i) {
        rig.Data(i)->clear();
        gui::Type(rig.Data(i), QString(120, QLatin1Char('7')));
        EXPECT_EQ(rig.Data(i)->text().size(), rig.Data(i)->maxLength()) << i;
    }
}

// What goes out is the task's rule; the page hands it the ticks, the texts
// as the boxes hold them and the Hi Co box.
TEST(MagEncodePage, EncodeSendsWhatTheControlsHold) {
    MagEncodeRig rig;
    ASSERT_TRUE(rig.Complete());
    rig.printer->SetValue("MDL", "10");
    rig.page.Activate();
    const char* typed[] = {"abc^def", "123=45", "999"};
    for (int i = 0; i < 3; ++i) {
        rig.Tick(i)->click();
        gui::Type(rig.Data(i), typed[i]);
    }
    rig.Tick(1)->click();  // unticked again
    rig.hiCo->click();
    rig.encode->click();

    EXPECT_EQ(EncodeFrames(*rig.printer),
              std::vector<std::string>{"\x01NOC1,MGVON,VER5,COEH,MAG1,ABC^DEF,MAG3,999\x1c\x03"});
    EXPECT_TRUE(rig.host.boxes.empty());
}

TEST(MagEncodePage, SelfTestSendsEnc) {
    MagEncodeRig rig;
    rig.selfTest->click();
    EXPECT_EQ(Requests(*rig.printer), std::vector<std::string>{"REQ,ENC"});
}

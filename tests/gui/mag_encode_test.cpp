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

constexpr const char* kNoDataText =
    "WARNING! No magnetic data found!   \n\nPress OK to send anyway.";

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
    EXPECT_EQ(page.Title(), "Mag Encode");
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

TEST(MagEncodePage, EncodeSendsTheTickedTracksAndTheCardTakesThem) {
    struct Row {
        const char* name;
        const char* version;
        const char* model;
        std::array<bool, 3> ticked;
        std::array<const char*, 3> typed;
        bool hiCo;
        std::string wire;
    };
    const Row rows[] = {
        {"track 2 alone",
         "E3.05",
         "7",
         {false, true, false},
         {"", "1234", ""},
         false,
         "\x01NOC0,BBB,MGVON,VER5,COEL,MAG2,1234\x1c\x03"},
        {"all three, model 10, Hi Co",
         "E3.05",
         "10",
         {true, true, true},
         {"abc^def", "123=45", "999"},
         true,
         "\x01NOC1,MGVON,VER5,COEH,MAG1,ABC^DEF,MAG2,123=45,MAG3,999\x1c\x03"},
        {"ticked but empty adds no field",
         "E3.05",
         "10",
         {true, false, true},
         {"", "", "0042"},
         false,
         "\x01NOC1,MGVON,VER5,COEL,MAG3,0042\x1c\x03"},
        {"unticked text is ignored",
         "E3.05",
         "7",
         {false, true, false},
         {"NAME", "55", "66"},
         true,
         "\x01NOC0,BBB,MGVON,VER5,COEH,MAG2,55\x1c\x03"},
        // The V family is never asked its model.
        {"V family",
         "V1.00",
         "10",
         {true, false, false},
         {"X", "", ""},
         false,
         "\x01NOC0,BBB,MGVON,VER5,COEL,MAG1,X\x1c\x03"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimPageRig rig(row.version);
        rig.printer->SetValue("MDL", row.model);
        const std::array<simcard::SimTrack, 3> before = rig.printer->GetState().card;
        CMagEncodingPP page(rig.context);
        MagControls c(page);
        ASSERT_TRUE(c.Complete());
        page.Activate();

        for (int i = 0; i < 3; ++i) {
            if (row.ticked[i]) c.ticks[i]->click();
            TypeInto(c.data[i], QString::fromLatin1(row.typed[i]));
        }
        if (row.hiCo) c.hiCo->click();
        c.encode->click();

        EXPECT_EQ(EncodeFrames(*rig.printer), std::vector<std::string>{row.wire});
        EXPECT_TRUE(rig.host.boxes.empty());
        const std::array<simcard::SimTrack, 3> card = rig.printer->GetState().card;
        for (int i = 0; i < 3; ++i) {
            const bool written = row.ticked[i] && *row.typed[i] != '\0';
            const std::string expected =
                written ? ToLatin1(QString::fromLatin1(row.typed[i]).toUpper()) : before[i].data;
            EXPECT_EQ(card[i].data, expected) << "track " << i + 1;
        }
    }
}

TEST(MagEncodePage, FullTracksMakeTheLongestCommand) {
    SimPageRig rig;
    CMagEncodingPP page(rig.context);
    MagControls c(page);
    ASSERT_TRUE(c.Complete());
    const std::string tracks[] = {std::string(76, 'A'), std::string(37, '1'),
                                  std::string(104, '2')};
    for (int i = 0; i < 3; ++i) {
        c.ticks[i]->click();
        c.data[i]->setText(QString::fromLatin1(tracks[i] + "overflow"));
    }
    c.hiCo->click();
    c.encode->click();

    const std::vector<std::string> frames = EncodeFrames(*rig.printer);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 262u);
    const std::array<simcard::SimTrack, 3> card = rig.printer->GetState().card;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(card[i].data, tracks[i]) << i;
}

TEST(MagEncodePage, NoTrackTickedWarnsAndSendsNothing) {
    SimPageRig rig;
    CMagEncodingPP page(rig.context);
    MagControls c(page);
    ASSERT_TRUE(c.Complete());
    TypeInto(c.data[1], "1234");
    c.encode->click();

    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "WARNING! No tracks selected!   \n");
    EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(rig.host.boxes[0].icon, MsgIcon::Exclamation);
    // Not even the model query.
    EXPECT_TRUE(rig.printer->Frames().empty());
}

TEST(MagEncodePage, TickedTracksAllEmptyAskBeforeSendingTheBareCommand) {
    for (MsgResult answer : {MsgResult::Cancel, MsgResult::Ok}) {
        SCOPED_TRACE(answer == MsgResult::Ok ? "OK" : "Cancel");
        SimPageRig rig;
        const std::array<simcard::SimTrack, 3> before = rig.printer->GetState().card;
        CMagEncodingPP page(rig.context);
        MagControls c(page);
        ASSERT_TRUE(c.Complete());
        c.ticks[0]->click();
        c.ticks[2]->click();
        TypeInto(c.data[1], "unticked");
        rig.host.boxAnswers.push_back(answer);
        c.encode->click();

        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text, kNoDataText);
        EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::OkCancel);
        if (answer == MsgResult::Ok) {
            EXPECT_EQ(EncodeFrames(*rig.printer),
                      std::vector<std::string>{"\x01NOC0,BBB,MGVON,VER5,COEL\x1c\x03"});
        } else {
            EXPECT_TRUE(EncodeFrames(*rig.printer).empty());
        }
        // No track named, none changed.
        const std::array<simcard::SimTrack, 3> card = rig.printer->GetState().card;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(card[i].data, before[i].data);
    }
}

TEST(MagEncodePage, SelfTestSendsEncThenWaits) {
    for (const char* version : {"E3.05", "V1.00"}) {
        SCOPED_TRACE(version);
        SimPageRig rig(version);
        CMagEncodingPP page(rig.context);
        MagControls c(page);
        ASSERT_TRUE(c.Complete());
        c.selfTest->click();

        const std::vector<SimFrame> frames = rig.printer->Frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].bytes, Framed("REQ,ENC"));
        EXPECT_EQ(rig.host.pauses, std::vector<int>{CMessageIF::kShortPauseMs});
    }

    // A self test that never left: the reconnect is offered, no wait follows.
    SimPageRig rig("E3.05");
    CMagEncodingPP page(rig.context);
    rig.printer->UpdateState([](SimPrinterState& s) { s.absent = true; });
    rig.host.boxAnswers = {MsgResult::Cancel};
    MagControls(page).selfTest->click();
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, CMessageIF::kConnectFailedText);
    EXPECT_TRUE(rig.host.pauses.empty());
}

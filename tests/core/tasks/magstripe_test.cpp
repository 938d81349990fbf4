// The magnetic stripe tasks against the in-process simulated printer: what
// an encode sends and the card then holds, the encoding self test, and what
// a card read makes of the printer's record, its faults and old firmware.
#include "tasks/magstripe.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/frames.h"
#include "task_rig.h"

namespace {

using Texts = std::vector<std::string>;
using cardread::TrackLed;
using magstripe::EncodeResult;
using magstripe::ReadOutcome;

constexpr const char* kNoDataText =
    "WARNING! No magnetic data found!   \n\nPress OK to send anyway.";
const std::string kInvalid = "ERROR: Invalid data received from printer";

// The magnetic encode frames the printer received.
Texts EncodeFrames(const CSimPrinter& printer) {
    Texts frames;
    for (const SimFrame& frame : printer.Frames()) {
        if (frame.kind == SimFrameKind::MagEncode) frames.push_back(frame.bytes);
    }
    return frames;
}

Texts CardTexts(const CSimPrinter& printer) {
    Texts texts;
    for (const simcard::SimTrack& track : printer.GetState().card) texts.push_back(track.data);
    return texts;
}

TEST(MagEncode, SendsTheTickedTracksCutToTheirLimitsAndTheCardTakesThem) {
    struct Row {
        const char* what;
        const char* version;
        const char* model;
        std::array<bool, 3> ticked;
        std::array<std::string, 3> text;
        bool hiCo;
        std::string wire;
    };
    const std::array<std::string, 3> full = {std::string(76, 'A') + "overflow",
                                             std::string(37, '1') + "overflow",
                                             std::string(104, '2') + "overflow"};
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
         {"ABC^DEF", "123=45", "999"},
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
        {"full tracks make the longest command",
         "E3.05",
         "10",
         {true, true, true},
         full,
         true,
         "\x01NOC1,MGVON,VER5,COEH,MAG1," + full[0].substr(0, 76) + ",MAG2," +
             full[1].substr(0, 37) + ",MAG3," + full[2].substr(0, 104) + "\x1c\x03"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TaskRig rig([&](SimPrinterState& s) { s.values["MDL"] = row.model; }, row.version);
        const Texts before = CardTexts(*rig.printer);
        magstripe::EncodeRequest request;
        request.selected = row.ticked;
        request.text = row.text;
        request.highCoercivity = row.hiCo;
        EXPECT_EQ(magstripe::Encode(rig.msg, rig.host, request), EncodeResult::Sent);

        EXPECT_EQ(EncodeFrames(*rig.printer), Texts{row.wire});
        EXPECT_TRUE(rig.host.boxes.empty());
        const Texts card = CardTexts(*rig.printer);
        for (size_t i = 0; i < 3; ++i) {
            const bool written = row.ticked[i] && !row.text[i].empty();
            EXPECT_EQ(card[i],
                      written ? row.text[i].substr(0, magstripe::kTrackLimits[i]) : before[i])
                << "track " << i + 1;
        }
    }
}

// No track ticked warns and sends nothing; ticked tracks all empty ask
// before the bare command goes.
TEST(MagEncode, NothingToWriteIsToldBeforeAnythingGoes) {
    struct Row {
        const char* what;
        std::array<bool, 3> ticked;
        std::optional<MsgResult> answer;
        EncodeResult result;
        Texts boxes;
        Texts wire;
    };
    const Row rows[] = {
        {"none ticked",
         {false, false, false},
         {},
         EncodeResult::NoTracks,
         {magstripe::kNoTracksText},
         {}},
        {"empty, cancelled",
         {true, false, true},
         MsgResult::Cancel,
         EncodeResult::Cancelled,
         {kNoDataText},
         {}},
        {"empty, sent anyway",
         {true, false, true},
         MsgResult::Ok,
         EncodeResult::Sent,
         {kNoDataText},
         {"\x01NOC0,BBB,MGVON,VER5,COEL\x1c\x03"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TaskRig rig;
        const Texts before = CardTexts(*rig.printer);
        if (row.answer) rig.host.boxAnswers.push_back(*row.answer);
        magstripe::EncodeRequest request;
        request.selected = row.ticked;
        request.text = {"", "UNTICKED", ""};
        EXPECT_EQ(magstripe::Encode(rig.msg, rig.host, request), row.result);
        ASSERT_EQ(rig.host.BoxTexts(), row.boxes);
        EXPECT_EQ(rig.host.boxes[0].buttons, row.answer ? MsgButtons::OkCancel : MsgButtons::Ok);
        EXPECT_EQ(EncodeFrames(*rig.printer), row.wire);
        // Not even the model query when none is ticked.
        if (!row.answer) {
            EXPECT_TRUE(rig.printer->Frames().empty());
        }
        EXPECT_EQ(CardTexts(*rig.printer), before);
    }
}

TEST(MagEncode, SelfTestSendsEncThenWaitsOnlyWhenItLeft) {
    for (const char* version : {"E3.05", "V1.00"}) {
        SCOPED_TRACE(version);
        TaskRig rig({}, version);
        EXPECT_TRUE(magstripe::SelfTest(rig.msg));
        EXPECT_EQ(rig.Requests(), Texts{"REQ,ENC"});
        EXPECT_EQ(rig.host.pauses, std::vector<int>{CMessageIF::kShortPauseMs});
    }
    // Never left: the reconnect is offered, no wait follows.
    TaskRig rig([](SimPrinterState& s) { s.absent = true; });
    rig.host.boxAnswers = {MsgResult::Cancel};
    EXPECT_FALSE(magstripe::SelfTest(rig.msg));
    EXPECT_EQ(rig.host.BoxTexts(), Texts{CMessageIF::kConnectFailedText});
    EXPECT_TRUE(rig.host.pauses.empty());
}

// --- card read -----------------------------------------------------------

const Texts kDefaultCard = {"%" + SimPrinterState::DefaultCard()[0].data + "?",
                            ";" + SimPrinterState::DefaultCard()[1].data + "?",
                            ";" + SimPrinterState::DefaultCard()[2].data + "?"};
constexpr TrackLed kOff = TrackLed::Off;
constexpr TrackLed kPass = TrackLed::Pass;
constexpr TrackLed kFail = TrackLed::Fail;

Texts ViewTexts(const magstripe::ReadResult& result) {
    Texts texts;
    for (const cardread::TrackView& track : result.view.tracks) texts.push_back(track.text);
    return texts;
}
std::vector<TrackLed> ViewLeds(const magstripe::ReadResult& result) {
    std::vector<TrackLed> leds;
    for (const cardread::TrackView& track : result.view.tracks) leds.push_back(track.led);
    return leds;
}

TEST(MagRead, TheSelectedTracksAreReadBackAndOnlyThose) {
    for (const uint8_t selection : {0x07, 0x01, 0x02, 0x04, 0x05, 0x06}) {
        SCOPED_TRACE(static_cast<int>(selection));
        TaskRig rig;
        const magstripe::ReadResult result = magstripe::ReadCard(rig.msg, rig.host, selection);
        EXPECT_EQ(result.outcome, ReadOutcome::Read);
        EXPECT_EQ(rig.Requests(),
                  (Texts{"REQ,STA,VRS", "REQ,MSV" + std::string(1, static_cast<char>(selection))}));
        EXPECT_TRUE(rig.host.boxes.empty());
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
        for (size_t i = 0; i < 3; ++i) {
            const bool selected = (selection >> i) & 1;
            EXPECT_EQ(ViewTexts(result)[i], selected ? kDefaultCard[i] : "");
            EXPECT_EQ(ViewLeds(result)[i], selected ? kPass : kOff);
        }
    }
}

TEST(MagRead, RecordFaultsShowAsTheyShould) {
    struct Case {
        const char* name;
        std::function<void(SimPrinterState&)> fault;
        uint8_t selection;
        Texts texts;
        std::vector<TrackLed> leds;
        Texts boxes;
    };
    const std::vector<Case> cases = {
        {"failed track",
         [](SimPrinterState& s) { s.card[1].failed = true; },
         0x07,
         {kDefaultCard[0], "Track2 FAILED", kDefaultCard[2]},
         {kPass, kFail, kPass},
         {}},
        // The check character after the missing sentinel shows too (":").
        {"no end sentinel",
         [](SimPrinterState& s) { s.card[2].omitEndSentinel = true; },
         0x07,
         {kDefaultCard[0], kDefaultCard[1], ";0123456789:"},
         {kPass, kPass, kFail},
         {}},
        {"blank track",
         [](SimPrinterState& s) { s.card[0].data.clear(); },
         0x03,
         {"<no data found>", kDefaultCard[1], ""},
         {kFail, kPass, kOff},
         {}},
        {"wrong mark",
         [](SimPrinterState& s) { s.cardRecordFaults.wrongMark = true; },
         0x05,
         {kInvalid, "", kInvalid},
         {kOff, kOff, kOff},
         {}},
        {"wrong length",
         [](SimPrinterState& s) { s.cardRecordFaults.wrongLength = true; },
         0x07,
         {"", "", ""},
         {kOff, kOff, kOff},
         {"ERROR! Firmware incompatibility   "}},
        {"nothing arrives",
         [](SimPrinterState& s) { s.cardRecordFaults.cutAfter = 0; },
         0x02,
         {"", kInvalid, ""},
         {kOff, kOff, kOff},
         {}},
        // Six bytes of the track 2 area arrive; nothing of track 3.
        {"record cut short",
         [](SimPrinterState& s) { s.cardRecordFaults.cutAfter = 210; },
         0x07,
         {kDefaultCard[0], ";12345", "<no data found>"},
         {kPass, kFail, kFail},
         {}},
        {"an encoded card reads back",
         [](SimPrinterState& s) {
             s.card[0].data = "DOE^JANE";
             s.card[1].data = "4000123456789=2812";
         },
         0x07,
         {"%DOE^JANE?", ";4000123456789=2812?", kDefaultCard[2]},
         {kPass, kPass, kPass},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TaskRig rig(c.fault);
        const magstripe::ReadResult result = magstripe::ReadCard(rig.msg, rig.host, c.selection);
        EXPECT_EQ(result.outcome, ReadOutcome::Read);
        EXPECT_EQ(ViewTexts(result), c.texts);
        EXPECT_EQ(ViewLeds(result), c.leds);
        EXPECT_EQ(rig.host.BoxTexts(), c.boxes);
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
    }
}

// Old firmware is refused before anything is read; a version the printer
// no longer reports (the family known from the connect) does not block the
// read, nor does a selection of none reach the printer.
TEST(MagRead, OldFirmwareAndNoSelectionAreRefusedBeforeAnythingIsRead) {
    const std::string need401 = "This function requires printer  \nfirmware version >=  v4.01  \n";
    const std::string need302 = "This function requires printer  \nfirmware version >=  v3.02  \n";
    const std::string need202 = "This function requires printer  \nfirmware version >=  v2.02  \n";
    struct Case {
        const char* version;
        std::optional<std::string> refusal;
        uint8_t selection = 0x07;
        bool versionGone = false;
    };
    const Case cases[] = {
        {"A4.00", need401},
        {"A4.01", std::nullopt},
        {"E3.01", need302},
        {"H2.01", need202},
        {"H2.02", std::nullopt},
        {"V1.00", std::nullopt},
        {"A3.00", std::nullopt, 0x07, true},
        {"E3.05", magstripe::kNoTracksText, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        TaskRig rig({}, c.version);
        if (c.versionGone)
            rig.printer->UpdateState([](SimPrinterState& s) { s.values.erase("VRS"); });
        const magstripe::ReadResult result = magstripe::ReadCard(rig.msg, rig.host, c.selection);
        if (c.refusal) {
            ASSERT_EQ(rig.host.BoxTexts(), Texts{*c.refusal});
            EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::Ok);
            EXPECT_NE(result.outcome, ReadOutcome::Read);
            EXPECT_EQ(rig.Requests(), c.selection ? Texts{"REQ,STA,VRS"} : Texts{});
            EXPECT_EQ(ViewTexts(result), (Texts{"", "", ""}));
        } else {
            EXPECT_TRUE(rig.host.boxes.empty());
            EXPECT_EQ(result.outcome, ReadOutcome::Read);
            EXPECT_EQ(rig.Requests(), (Texts{"REQ,STA,VRS", "REQ,MSV\x07"}));
            EXPECT_EQ(ViewTexts(result), kDefaultCard);
        }
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
    }
}

// An "MSV" the link refused asks for no record: whatever a reconnect's link
// holds is not taken for the card.
TEST(MagRead, NoRecordIsReadForARequestThatDidNotGoOut) {
    ScriptedTaskRig rig;
    ScriptedLink& link = rig.Connect();
    link.QueueReply("VRSE3.05,");  // the firmware gate's query
    link.writeResults = {-1, 0};   // "MSV" refused
    link.QueueReply("VRSE3.05,");  // the reconnect's detection
    link.QueueReply(std::string(548, ' '));
    const magstripe::ReadResult result = magstripe::ReadCard(rig.msg, rig.host, 0x01);

    EXPECT_EQ(result.outcome, ReadOutcome::NotSent);
    EXPECT_EQ(rig.sheet.rebuilds, 2);
    EXPECT_EQ(link.reads.size(), 1u);
    EXPECT_EQ(ViewTexts(result), (Texts{"", "", ""}));
    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
}

TEST(MagRead, EjectSendsEjt) {
    TaskRig rig;
    EXPECT_TRUE(magstripe::Eject(rig.msg));
    ASSERT_EQ(rig.printer->Frames().size(), 1u);
    EXPECT_EQ(rig.printer->Frames()[0].bytes, Framed("REQ,EJT"));
}

}  // namespace

#include "protocol/message_if.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "support/counting_sheet.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"
#include "support/time_scale.h"

using ::testing::ElementsAre;

namespace {

const std::string kPre = std::string(9, '\x05') + "\x01";
const std::string kEnd = ",\x1c\x03";

// A protocol object wired to a scripted link; the test keeps a pointer to
// the link the factory handed over.
class Protocol : public ::testing::Test, protected ScriptedLinks {
protected:
    void SetUp() override {
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory(Factory());
    }
    // Connects and forgets the detection traffic; the printer answers "VRS"
    // with `version` (or nothing when empty).
    void Connect(const std::string& version, const std::string& port = "Ethernet") {
        prepare = [version](ScriptedLink& l) {
            if (!version.empty()) l.QueueReply("VRS" + version + ",");
        };
        ASSERT_EQ(msg.SelectPort(port), 1);
        link->writes.clear();
        prepare = nullptr;
    }

    FakeHost host;
    CountingSheet sheet;
    CMessageIF msg{host};
};

// ---------------------------------------------------------------------------
// Command table

TEST(CommandTable, EntriesAndMasks) {
    ASSERT_EQ(kCommandTable.size(), 75u);
    // Every row, by index: mnemonic and family mask.
    const std::pair<const char*, uint32_t> rows[75] = {
        {"MSR", 1407},   {"BSR", 1407}, {"PSR", 1407},     {"CHK", 1407},  {"VRS", 1407},
        {"MDL", 1403},   {"VID", 1403}, {"PID", 1403},     {"USN", 1403},  {"UPN", 1403},
        {"BACK", 1407},  {"BAR", 1407}, {"CAM", 1407},     {"DBA", 1407},  {"DYE", 1407},
        {"ENC", 1407},   {"FED", 1407}, {"FFF", 1407},     {"FLIP", 1407}, {"RED", 1407},
        {"SPD", 1407},   {"TAC", 1407}, {"TOS", 1407},     {"TST", 1407},  {"CLN", 1407},
        {"CHP", 1407},   {"EJT", 1407}, {"GEM", 1407},     {"MIF", 1407},  {"RAMP", 1407},
        {"PRINT", 1407}, {"SET", 1407}, {"UNSET", 1407},   {"DBG", 1407},  {"LCX", 1407},
        {"HEAD", 1407},  {"HFD", 1407}, {"OKY", 1407},     {"CAN", 1407},  {"FPP", 1407},
        {"FDC", 1407},   {"CCP", 1407}, {"FSS", 1407},     {"FSP", 1407},  {"FEP", 1407},
        {"CLP", 1407},   {"CRQ", 1407}, {"DEF,RST", 1407}, {"TCP", 1407},  {"TCQ", 1407},
        {"CPQ", 1407},   {"TPQ", 1407}, {"TCN", 1407},     {"DFR", 1407},  {"CCQ", 1407},
        {"ERR", 1407},   {"FRM", 1407}, {"UPG", 1407},     {"LBM", 1403},  {"PBM", 1403},
        {"TGD", 2},      {"TGH", 2},    {"TGL", 2},        {"TGT", 2},     {"", 2},
        {"", 1403},      {"QPR", 1403}, {"MAC", 24},       {"IPA", 1407},  {"SNM", 1407},
        {"GWY", 1407},   {"DYN", 1407}, {"MSV", 1407},     {"SNR", 1403},  {"MIP", 1407},
    };
    for (int i = 0; i < cmd::COUNT; ++i) {
        EXPECT_EQ(kCommandTable[i].mnemonic, rows[i].first) << i;
        EXPECT_EQ(kCommandTable[i].familyMask, rows[i].second) << i;
    }
    // Every named entry is unique and short enough for the request area.
    for (int i = 0; i < cmd::COUNT; ++i) {
        const auto m = kCommandTable[i].mnemonic;
        EXPECT_LE(m.size(), i == cmd::DEF_RST ? 7u : 5u);
        if (!m.empty()) {
            EXPECT_EQ(CommandIndex(m), i) << m;
        }
    }
    EXPECT_EQ(CommandIndex(""), -1);
    EXPECT_EQ(CommandIndex("XYZ"), -1);
}

TEST(CommandTable, FamilyFromVersion) {
    const std::pair<const char*, uint32_t> rows[] = {
        {"A4.01", 2}, {"V1.00", 4}, {"E3.02", 8}, {"H2.02", 16}, {"J1", 32}, {"Q1", 64},
        {"U1", 256},  {"a4.01", 1}, {"4.01", 1},  {"", 1},       {"Z", 1},   {"v1", 1},
    };
    for (auto [text, word] : rows) EXPECT_EQ(family::FromVersion(text), word) << text;
}

// ---------------------------------------------------------------------------
// Frames on the wire

TEST_F(Protocol, FramesOfEveryFormByteForByte) {
    Connect("E3.05");
    link->QueueNothing();
    msg.RequestStatus(cmd::VRS);
    msg.SendCommand(cmd::DEF_RST);
    msg.SendCommand(cmd::UPG);
    link->QueueNothing();
    msg.RequestNumbered(cmd::QPR, 5);
    link->QueueNothing();
    msg.RequestNumbered(cmd::QPR, -1);
    msg.SendModify(cmd::IPA, "-1062705664");
    msg.SendCommandAndWait(cmd::MIP, "1:2:3:4");
    msg.SendCommandText(std::string("TST"));
    msg.SendCommand(cmd::MSV, std::string("\x07"));

    ASSERT_EQ(link->writes.size(), 9u);
    EXPECT_EQ(link->writes[0], kPre + "REQ,STA,VRS" + kEnd);
    EXPECT_EQ(link->writes[0].size(), 24u);
    EXPECT_EQ(link->writes[1], kPre + "REQ,DEF,RST" + kEnd);
    EXPECT_EQ(link->writes[1].size(), 24u);
    EXPECT_EQ(link->writes[2], kPre + "REQ,UPG" + kEnd);
    EXPECT_EQ(link->writes[2].size(), 20u);
    EXPECT_EQ(link->writes[3], kPre + "QPR5" + kEnd);
    EXPECT_EQ(link->writes[3].size(), 17u);
    EXPECT_EQ(link->writes[4], kPre + "QPR-1" + kEnd);
    EXPECT_EQ(link->writes[5], kPre + "REQ,MOD,IPA-1062705664" + kEnd);
    EXPECT_EQ(link->writes[6], kPre + "REQ,MIP1:2:3:4" + kEnd);
    EXPECT_EQ(link->writes[7], kPre + "REQ,TST" + kEnd);
    EXPECT_EQ(link->writes[8], kPre + "REQ,MSV\x07" + kEnd);

    // Every command's status request, under a family its mask lets through.
    for (int c = 0; c < cmd::COUNT; ++c) {
        Connect((kCommandTable[c].familyMask & family::kE) ? "E3.05" : "A4.01");
        msg.RequestStatus(c);
        EXPECT_THAT(link->writes,
                    ElementsAre(kPre + "REQ,STA," + std::string(kCommandTable[c].mnemonic) + kEnd))
            << c;
    }
}

TEST_F(Protocol, PausesFollowTheFormAndTheLinkKind) {
    Connect("E3.05", "Ethernet");
    host.pauses.clear();
    msg.SendModify(cmd::DYN, "1");
    msg.SendCommandAndWait(cmd::MIP, ":::");
    msg.SendCommand(cmd::UPG);
    msg.SendCommandText(std::string("ENC"));
    EXPECT_THAT(host.pauses, ElementsAre(2200, 2200));

    Connect("E3.05", "LPT1:");
    host.pauses.clear();
    msg.SendCommandAndWait(cmd::MIP, ":::");
    msg.SendModify(cmd::FDC, "5");
    EXPECT_THAT(host.pauses, ElementsAre(200, 2200));
}

TEST_F(Protocol, FrameLengthLimitIs1023Bytes) {
    Connect("E3.05");
    // 10 + 4 ("REQ,") + text + 3: a 1006-character text makes 1023 bytes.
    msg.SendCommandText(std::string(1006, 'X'));
    ASSERT_EQ(link->writes.size(), 1u);
    EXPECT_EQ(link->writes[0].size(), 1023u);
    msg.SendCommandText(std::string(1007, 'X'));
    EXPECT_EQ(link->writes.size(), 1u);
    // The same bound on a reading form: nothing sent, no value, no read.
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1), "");
    msg.SendModify(cmd::IPA, std::string(1024, '1'));
    EXPECT_EQ(link->writes.size(), 2u);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Protocol, FamilyGates) {
    // Before detection the family is V (4): mask 1403, 2 and 24 stay home.
    Connect("");
    EXPECT_EQ(msg.GetPrinterFamily(), family::kV);
    for (int c : {cmd::MDL, cmd::VID, cmd::PID, cmd::USN, cmd::UPN, cmd::LBM, cmd::PBM, cmd::MAC,
                  cmd::TGD}) {
        EXPECT_EQ(msg.RequestStatus(c), std::nullopt) << c;
    }
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1), "");
    EXPECT_EQ(msg.RequestNumbered(cmd::SNR, 1), "");
    EXPECT_TRUE(link->writes.empty());
    EXPECT_TRUE(link->readCapacities.size() == 1u);  // only the detection read

    // Free text ignores the masks; MSR and VRS go out.
    msg.SendCommandText(std::string("MAC"));
    link->QueueReply("MSR123,");
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), "123");
    EXPECT_EQ(link->writes.size(), 2u);

    struct Case {
        std::string version;
        int command;
        bool sent;
    };
    const Case cases[] = {
        {"E1", cmd::MAC, true},  {"H1", cmd::MAC, true}, {"A1", cmd::MAC, false},
        {"J1", cmd::MAC, false}, {"A1", cmd::TGD, true}, {"A1", cmd::TGT, true},
        {"E1", cmd::TGH, false}, {"Q1", cmd::PID, true}, {"x1", cmd::PID, true},
        {"V1", cmd::PID, false},
    };
    for (const Case& c : cases) {
        Connect(c.version);
        link->QueueReply("junk,");
        msg.RequestStatus(c.command);
        EXPECT_EQ(link->writes.size(), c.sent ? 1u : 0u) << c.version << " " << c.command;
    }
}

TEST_F(Protocol, ReadsUseCapacity1024AndThePacedBit) {
    Connect("A4.01");
    link->readPaced.clear();
    link->QueueNothing();
    msg.RequestStatus(cmd::MSR);  // family AND 4 = 0 for A
    link->QueueNothing();
    msg.RequestNumbered(cmd::QPR, 1);  // family AND 2 = 2
    EXPECT_THAT(link->readPaced, ElementsAre(0, 2));
    EXPECT_EQ(link->readCapacities.back(), 1024);

    Connect("V1.0");
    link->readPaced.clear();
    link->QueueNothing();
    msg.RequestStatus(cmd::MSR);
    EXPECT_THAT(link->readPaced, ElementsAre(4));

    // The card record is read like a numbered reply: paced for "A" only.
    uint8_t record[CMessageIF::kCardRecordSize];
    for (const auto& [version, paced] : {std::pair{"A4.01", 2}, {"V1.0", 0}, {"E3.05", 0}}) {
        Connect(version);
        link->readPaced.clear();
        link->QueueReply(std::string(CMessageIF::kCardRecordSize, 'r'));
        EXPECT_EQ(msg.ReadFixedReply(record), CMessageIF::kCardRecordSize);
        EXPECT_THAT(link->readPaced, ElementsAre(paced)) << version;
    }
}

// ---------------------------------------------------------------------------
// Replies

TEST_F(Protocol, ParseReplyCases) {
    struct Case {
        int command;
        std::string reply;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {cmd::VRS, "VRSA4.01,", "A4.01"},
        {cmd::VRS, "xxVRSA4.01,MSR9,", "A4.01"},
        {cmd::VRS, "VRVRS1,", "1"},
        {cmd::VRS, "VR", std::nullopt},
        {cmd::VRS, "VRS", ""},
        {cmd::VRS, "VRS,", ""},
        {cmd::VRS, "VRS1,VRS2,", "1"},
        {cmd::VRS, "MSR1,", std::nullopt},
        {cmd::VRS, "", std::nullopt},
        {cmd::VRS, "vrs1,", std::nullopt},
        {cmd::ERR, "ERR5,STA7,", "7"},
        {cmd::ERR, "ERR5,", std::nullopt},
        {cmd::MSR, "MSR12345", "12345"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(msg.ParseReply(c.command, c.reply), c.value) << c.reply;
    }
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Protocol, StatusValuesThroughTheLink) {
    Connect("E3.05");
    struct Case {
        int command;
        std::string reply;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {cmd::TCQ, "TCQ4096,", "0"},
        {cmd::TCQ, "TCQ-1,", "4095"},
        {cmd::TCQ, "TCQ5000,", "904"},
        {cmd::TCQ, "TCQ4095,", "4095"},
        {cmd::TCQ, "TCQ abc,", "0"},
        {cmd::TCQ, "TCQ 12x,", "12"},
        // A counter past 2^31 is reduced from its own bits, not from a
        // saturated 2^31 - 1.
        {cmd::TCQ, "TCQ2147483653,", "5"},
        {cmd::TCQ, "MSR1,", std::nullopt},
        {cmd::TCP, "TCP5000,", "5000"},
        {cmd::MSR, std::string("MSR12\0,34", 9), "12"},  // text ends at the zero byte
        {cmd::MSR, std::string("MS\0MSR1,", 8), std::nullopt},
    };
    for (const Case& c : cases) {
        link->QueueReply(c.reply);
        EXPECT_EQ(msg.RequestStatus(c.command), c.value) << c.reply;
    }
    // Nothing back, peer closed.
    link->QueueNothing(-1);
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
    link->QueueNothing(0);
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
    // A reply that fills the whole area is still read as exactly 1024 bytes.
    std::string full = "MSR" + std::string(1021, '7');
    link->QueueReply(full);
    auto v = msg.RequestStatus(cmd::MSR);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->size(), 1021u);
    // A longer reply than the area is cut to it.
    link->QueueReply(std::string(2000, 'Z'));
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1).size(), 1024u);
}

TEST_F(Protocol, ShowStatusAndSendModifyFromControl) {
    Connect("E3.05");
    CTextValue window("old");
    link->QueueReply("FPP12,");
    msg.ShowStatus(cmd::FPP, window);
    EXPECT_EQ(window.GetWindowText(), "12");
    link->QueueReply("nothing here");
    msg.ShowStatus(cmd::FPP, window);
    EXPECT_EQ(window.GetWindowText(), "");

    link->writes.clear();
    CTextValue longText(std::string(70, '9'));
    msg.SendModifyFromControl(cmd::FDC, longText);
    ASSERT_EQ(link->writes.size(), 1u);
    EXPECT_EQ(link->writes[0], kPre + "REQ,MOD,FDC" + std::string(63, '9') + kEnd);
}

TEST_F(Protocol, ReadFixedReplyCollectsPiecesAndStopsWhenTheLinkOrTheOperatorDoes) {
    Connect("E3.05");
    uint8_t record[CMessageIF::kCardRecordSize];
    std::memset(record, 0xEE, sizeof record);
    link->QueueReply(std::string(100, 'a'));
    link->QueueReply(std::string(400, 'b'));
    link->QueueReply(std::string(100, 'c'));  // more than the room left
    EXPECT_EQ(msg.ReadFixedReply(record), CMessageIF::kCardRecordSize);
    EXPECT_THAT(link->readCapacities, ElementsAre(1024, 548, 448, 48));
    EXPECT_EQ(record[0], 'a');
    EXPECT_EQ(record[547], 'c');

    // A link that goes quiet ends the loop; the bytes that came stay.
    std::memset(record, 0, sizeof record);
    link->QueueReply("xyz");
    link->QueueNothing(0);
    link->QueueReply("never read");
    EXPECT_EQ(msg.ReadFixedReply(record), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record), 3), "xyz");
    EXPECT_EQ(record[3], 0);
    EXPECT_EQ(link->reads.size(), 1u);

    // Pieces with gaps shorter than the receive wait, adding up to more than
    // it: the wait counts from the last byte, so the record is read whole.
    link->reads.clear();
    link->receiveWaitMs = 150 * TestTimeScale();
    for (int piece = 0; piece < 4; ++piece) {
        link->QueueReply(std::string(137, static_cast<char>('p' + piece)));
        link->QueueNothing(-1, 60 * TestTimeScale());
    }
    EXPECT_EQ(msg.ReadFixedReply(record), CMessageIF::kCardRecordSize);
    EXPECT_EQ(record[547], 's');

    // The operator's cancel ends the loop at the next empty read.
    link->reads.clear();
    link->QueueReply("abc");
    link->QueueNothing(-1);
    link->QueueReply("never read");
    host.cancelled = true;
    EXPECT_EQ(msg.ReadFixedReply(record), 3);
    EXPECT_EQ(link->reads.size(), 1u);

    // Nor does a cancelled operation write, reconnect or ask.
    link->writes.clear();
    const int opens = link->opens;
    EXPECT_FALSE(msg.SendCommand(cmd::MSR));
    EXPECT_EQ(msg.ConnectPrinter(), 0);
    EXPECT_TRUE(link->writes.empty());
    EXPECT_EQ(link->opens, opens);
    EXPECT_TRUE(host.boxes.empty());
}

// ---------------------------------------------------------------------------
// Connection

TEST_F(Protocol, PortNamesMapToLinkKinds) {
    const std::pair<const char*, int> rows[] = {
        {"USB", 0}, {"Ethernet", 2}, {"LPT1:", 1},    {"LPT4:", 1},
        {"usb", 1}, {"USB ", 1},     {"ethernet", 1}, {"", 1},
    };
    for (auto [name, kind] : rows) {
        EXPECT_EQ(CMessageIF::LinkKindForPort(name), kind) << name;
        prepare = [](ScriptedLink& l) { l.openResults = {0}; };
        host.boxAnswers = {MsgResult::Cancel};
        EXPECT_EQ(msg.SelectPort(name), 0);
        EXPECT_EQ(link->GetLinkKind(), kind);
        EXPECT_EQ(linkRequests.back(), std::make_pair(kind, std::string(name)));
    }
}

TEST_F(Protocol, ConnectLoopCancelRetryAndSuccess) {
    // Cancel at the first failure: 0, no pages, the link stays current.
    prepare = [](ScriptedLink& l) { l.openResults = {0}; };
    host.boxAnswers = {MsgResult::Cancel};
    EXPECT_EQ(msg.SelectPort("Ethernet"), 0);
    EXPECT_EQ(sheet.rebuilds, 0);
    EXPECT_EQ(msg.CurrentLinkKind(), kLinkEthernet);  // kept for Retry on the page
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text,
              "Could not connect to the Printer. \nEnsure cable is connected and printer is "
              "switched on.");
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(host.pauses.empty());

    // Retry twice, then the printer answers.
    host.boxes.clear();
    prepare = [](ScriptedLink& l) {
        l.openResults = {0, 0, 1};
        l.QueueReply("VRSH2.02,");
    };
    host.boxAnswers = {MsgResult::Retry, MsgResult::Retry};
    std::vector<std::string> wireAtRebuild;
    sheet.onRebuild = [&] { wireAtRebuild = link->writes; };
    EXPECT_EQ(msg.SelectPort("Ethernet"), 1);
    EXPECT_EQ(link->opens, 3);
    EXPECT_THAT(host.pauses, ElementsAre(2000, 2000));
    EXPECT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(sheet.rebuilds, 1);
    EXPECT_TRUE(wireAtRebuild.empty());  // pages come first, then detection
    ASSERT_EQ(link->writes.size(), 1u);
    EXPECT_EQ(link->writes[0], kPre + "REQ,STA,VRS" + kEnd);
    EXPECT_EQ(msg.GetPrinterFamily(), family::kH);
}

TEST_F(Protocol, ConnectPrinterIsNotReenteredWhileItRuns) {
    // A failed write while the pages are rebuilt, or anything else that asks
    // to connect meanwhile, gets 0 and starts no second loop.
    int inner = -1;
    bool once = false;
    sheet.onRebuild = [&] {
        if (std::exchange(once, true)) return;  // an unguarded loop would recurse
        link->writeResults = {0};
        EXPECT_FALSE(msg.SendCommandText(std::string("TST")));
        inner = msg.ConnectPrinter();
    };
    prepare = [](ScriptedLink& l) { l.QueueReply("VRSE3.05,"); };
    EXPECT_EQ(msg.SelectPort("Ethernet"), 1);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(link->opens, 1);
    EXPECT_EQ(sheet.rebuilds, 1);
    // Once it has ended, the next call runs again.
    link->QueueReply("VRSE3.05,");
    EXPECT_EQ(msg.ConnectPrinter(), 1);
    EXPECT_EQ(link->opens, 2);
}

TEST_F(Protocol, ANewPortClosesTheOldLinkBeforeCreatingTheNew) {
    Connect("E3.05");
    ScriptedLink* old = link;
    bool oldDestroyed = false;
    old->destroyedFlag = &oldDestroyed;
    int closesWhenFactoryRan = -1;
    prepare = [&](ScriptedLink& l) {
        closesWhenFactoryRan = oldDestroyed ? 1 : old->closes;
        l.QueueReply("VRSA1,");
    };
    EXPECT_EQ(msg.SelectPort("LPT2:"), 1);
    EXPECT_EQ(closesWhenFactoryRan, 1);
    EXPECT_TRUE(oldDestroyed);
}

TEST_F(Protocol, DetectionKeepsTheFamilyWithoutAReply) {
    Connect("E3.05");
    EXPECT_EQ(msg.GetPrinterFamily(), family::kE);
    link->QueueNothing();
    msg.DetectPrinterFamily();
    EXPECT_EQ(msg.GetPrinterFamily(), family::kE);
    link->QueueReply("VRS,");
    msg.DetectPrinterFamily();
    EXPECT_EQ(msg.GetPrinterFamily(), family::kOther);
    link->QueueReply("VRSa4.01,");
    msg.DetectPrinterFamily();
    EXPECT_EQ(msg.GetPrinterFamily(), family::kOther);
    link->QueueReply("VRSV1,");
    msg.DetectPrinterFamily();
    EXPECT_EQ(msg.GetPrinterFamily(), family::kV);
}

TEST_F(Protocol, FailedWritesReconnectOnlyForSendingForms) {
    Connect("E3.05");
    const int opensBefore = link->opens;
    // Reading forms: no value, no reconnect.
    link->writeResults = {0, 0};
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1), "");
    EXPECT_EQ(link->opens, opensBefore);
    EXPECT_EQ(sheet.rebuilds, 1);

    // Sending forms: the connect loop, and no pause after the failed write.
    host.pauses.clear();
    link->writeResults = {0};
    link->QueueReply("VRSE3.05,");
    msg.SendModify(cmd::DYN, "1");
    EXPECT_EQ(link->opens, opensBefore + 1);
    EXPECT_EQ(sheet.rebuilds, 2);
    EXPECT_TRUE(host.pauses.empty());

    // A write that took only part of the frame counts as failed too. The
    // commands tell a caller whether they left, so it neither waits nor
    // reports success for one that did not.
    link->writeResults = {5};
    link->QueueReply("VRSE3.05,");
    EXPECT_FALSE(msg.SendCommandText(std::string("TST")));
    EXPECT_EQ(sheet.rebuilds, 3);
    link->writeResults = {0};
    link->QueueReply("VRSE3.05,");
    EXPECT_FALSE(msg.SendCommand(cmd::UPG));
    EXPECT_EQ(sheet.rebuilds, 4);
    EXPECT_FALSE(msg.SendCommand(cmd::TGD));  // gated off for "E": no reconnect
    EXPECT_FALSE(msg.SendCommandText(std::nullopt));
    EXPECT_EQ(sheet.rebuilds, 4);
    EXPECT_TRUE(msg.SendCommand(cmd::UPG));
    EXPECT_TRUE(msg.SendCommandText(std::string("ENC")));
    link->writeResults = {5};
    link->QueueReply("MSR1,");
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
}

TEST_F(Protocol, NumberedRequestTellsWhetherThePrinterAnswered) {
    // An empty text alone cannot tell a silent printer or a request that
    // never left from an empty reply; the report loop stops on the former.
    struct Case {
        const char* version;
        int writeResult;    // -1: the link takes the whole frame
        const char* reply;  // nullptr: the printer stays silent
        bool answered;
        const char* text;
    };
    const Case cases[] = {
        {"E3.05", -1, "CARD IN HOPPER", true, "CARD IN HOPPER"},
        {"E3.05", -1, nullptr, false, ""},
        {"E3.05", -1, "\0tail", true, ""},
        {"V1.0", -1, "CARD IN HOPPER", false, ""},
        {"E3.05", 0, "CARD IN HOPPER", false, ""},
        {"E3.05", 5, "CARD IN HOPPER", false, ""},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(Connect(c.version));
        link->writeResults = {c.writeResult};
        if (c.reply) link->QueueReply(c.reply[0] ? std::string(c.reply) : std::string("\0tail", 5));
        bool answered = !c.answered;
        EXPECT_EQ(msg.RequestNumbered(cmd::SNR, 7, answered), c.text) << c.version << c.writeResult;
        EXPECT_EQ(answered, c.answered) << c.version << " " << c.writeResult;
    }
    bool answered = true;
    EXPECT_EQ(msg.RequestNumbered(cmd::COUNT, 1, answered), "");
    EXPECT_FALSE(answered);
}

TEST_F(Protocol, NoLinkMeansNothingHappens) {
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), std::nullopt);
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1), "");
    bool sent = true;
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1, sent), "");
    EXPECT_FALSE(sent);
    msg.SendModify(cmd::DYN, "1");
    msg.SendCommandText(std::string("X"));
    EXPECT_EQ(msg.ConnectPrinter(), 0);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(sheet.rebuilds, 0);
}

TEST_F(Protocol, IntegerReading) {
    const std::pair<const char*, int32_t> rows[] = {
        {"42", 42},
        {"  -7x", -7},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"\t\n 9", 9},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", INT32_MIN},
        {"-99999999999999999999", INT32_MIN},
        {"3232261632", 2147483647},
        {"- 5", 0},
    };
    for (auto [text, value] : rows) EXPECT_EQ(CMessageIF::ToInteger(text), value) << text;
}

}  // namespace

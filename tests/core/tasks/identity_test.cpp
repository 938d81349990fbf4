// What the identity task reads, writes and resets, on the simulated printer.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/frames.h"
#include "task_rig.h"

namespace {

// Learning the family asks "VRS" first; a "V" printer answers neither
// "PID" nor "MDL", so neither is asked of it.
std::vector<std::string> ReadOrder(bool withPidAndModel) {
    std::vector<std::string> order = {"REQ,STA,VRS", "REQ,STA,MSR", "REQ,STA,VRS"};
    if (withPidAndModel) order.push_back("REQ,STA,PID");
    for (const char* name : {"FDC", "FSP", "FEP", "FPP"})
        order.push_back(std::string("REQ,STA,") + name);
    if (withPidAndModel) order.push_back("REQ,STA,MDL");
    return order;
}

}  // namespace

TEST(IdentityTask, ProductIdIsHexOfTheFirstNineCharacters) {
    const struct {
        const char* reported;
        const char* shown;
    } rows[] = {
        {"255", "0x00FF"},
        {"70000", "0x11170"},
        {"6144", "0x1800"},
        {"0", "0x0000"},
        {"1234567890123", "0x75BCD15"},  // only nine digits are read
        {" 42abc", "0x002A"},
        {"abc", "0x0000"},
        {"", "0x0000"},
        {"-1", "0xFFFFFFFF"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(identity::ProductIdText(row.reported), row.shown) << row.reported;
    }
}

TEST(IdentityTask, ModelCodeDecodesByTheTable) {
    const struct {
        std::optional<std::string> mdl;  // none: asked, not answered
        const char* oemName;
        std::optional<std::string> model;
    } rows[] = {
        {"0", "", "Standard"},
        {"1", "", "Kestrel Vista"},
        {"4", "", "Bastion Mifare"},
        {"7", "", "Sable"},
        {" 8,", "", "Sable Mag"},
        {"9", "", "Halden"},
        {"10", "Orion C200", "Orion C200"},
        {"10", "", ""},
        {"11", "", "Unassigned - 11"},
        {"100", "", "Unassigned - 100"},
        {"101", "", "Special 1"},
        {"120", "", "Special 20"},
        {"121", "", "Unassigned - 121"},
        {"-3", "", "Unassigned - -3"},
        {"X5", "", "Standard"},
        {"", "", "Standard"},
        {"99999999999", "", "Unassigned - 2147483647"},
        {std::nullopt, "", std::nullopt},
    };
    SimTaskRig rig;
    for (const auto& row : rows) {
        rig.Set("MDL", row.mdl);
        EXPECT_EQ(identity::Read(rig.msg, row.oemName).model, row.model)
            << "MDL \"" << row.mdl.value_or("(none)") << "\", OEM name \"" << row.oemName << "\"";
    }
}

// The printer on the link may have changed since the connect: each read
// learns its family before the requests that depend on it.
TEST(IdentityTask, ReadLearnsTheFamilyFirst) {
    const struct {
        const char* version;
        std::vector<std::string> requests;
        uint32_t family;
        const char* productId;
        bool model;
    } rows[] = {
        {"E3.05", ReadOrder(true), family::kE, "0x1800", true},
        {"V2.10", ReadOrder(false), family::kV, "0x0000", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.version);
        SimTaskRig rig;
        rig.printer->SetValue("VRS", row.version);
        const identity::View view = identity::Read(rig.msg, "");
        EXPECT_EQ(rig.Requests(), row.requests);
        EXPECT_EQ(view.family, row.family);
        EXPECT_EQ(view.version, row.version);
        EXPECT_EQ(view.serial, "E1234567");
        EXPECT_EQ(view.productId, row.productId);
        EXPECT_EQ(view.model.has_value(), row.model);
        EXPECT_EQ(view.settings.density, "50");
        EXPECT_EQ(view.settings.imageStart, "40");
        EXPECT_EQ(view.settings.imageEnd, "1010");
        EXPECT_EQ(view.settings.position, "0");
    }
}

TEST(IdentityTask, SaveWritesFourSettingsOrOneMipRequestByFamily) {
    const std::string tooLong(70, '9');
    const std::string cut(identity::kSettingTextLimit, '9');
    const struct {
        const char* version;
        const char* port;
        identity::Settings settings;
        std::vector<std::string> requests;
        std::vector<int> pauses;  // the modify's own wait, then the task's
    } rows[] = {
        {"E3.05",
         "USB",
         {"55", "45", "", "3"},
         {"REQ,MOD,FDC55", "REQ,MOD,FSP45", "REQ,MOD,FEP", "REQ,MOD,FPP3"},
         {2200, 200, 2200, 200, 2200, 200, 2200, 200}},
        {"E3.05",
         "USB",
         {tooLong, "1", "2", "3"},
         {"REQ,MOD,FDC" + cut, "REQ,MOD,FSP1", "REQ,MOD,FEP2", "REQ,MOD,FPP3"},
         {2200, 200, 2200, 200, 2200, 200, 2200, 200}},
        {"J1.20", "USB", {"55", "45", "1000", "12"}, {"REQ,MIP55:45:1000:12"}, {200}},
        {"Q3.00", "LPT1:", {"", "", "", ""}, {"REQ,MIP:::"}, {200}},
        {"U0.91", "Ethernet", {"7", "", "1", tooLong}, {"REQ,MIP7::1:" + cut}, {2200}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.version) + " " + row.requests[0]);
        SimTaskRig rig(row.version, row.port);
        EXPECT_TRUE(identity::Save(rig.msg, rig.host, row.settings));
        EXPECT_EQ(rig.Requests(), row.requests);
        EXPECT_EQ(rig.host.pauses, row.pauses);
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
        const identity::View held = identity::Read(rig.msg, "");
        EXPECT_EQ(held.settings.density, row.settings.density.substr(0, cut.size()));
        EXPECT_EQ(held.settings.position, row.settings.position.substr(0, cut.size()));
    }
    // Joined straight onto the mnemonic, no comma between.
    SimTaskRig rig("J1.20");
    identity::Save(rig.msg, rig.host, {"1", "2", "3", "4"});
    EXPECT_EQ(rig.printer->Frames().at(0).bytes, Framed("REQ,MIP1:2:3:4"));

    SimTaskRig gone;
    gone.SwitchOff();
    EXPECT_FALSE(identity::Save(gone.msg, gone.host, {"1", "2", "3", "4"}));
}

TEST(IdentityTask, ResetAsksSendsWaitsAndTellsOnlyWhatHappened) {
    using identity::ResetResult;
    const struct {
        const char* what;
        MsgResult answer;
        bool printerThere;
        ResetResult result;
        std::vector<std::string> boxes;
        std::vector<int> pauses;
    } rows[] = {
        {"declined", MsgResult::No, true, ResetResult::Declined, {identity::kResetQuestion}, {}},
        {"sent",
         MsgResult::Yes,
         true,
         ResetResult::Sent,
         {identity::kResetQuestion, identity::kReconnectNotice},
         {500}},
        {"not sent",
         MsgResult::Yes,
         false,
         ResetResult::NotSent,
         {identity::kResetQuestion, CMessageIF::kConnectFailedText},
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SimTaskRig rig;
        rig.printer->SetValue("FDC", "80");
        if (!row.printerThere) rig.SwitchOff();
        rig.host.boxAnswers = {row.answer};

        EXPECT_EQ(identity::Reset(rig.msg, rig.host), row.result);

        EXPECT_EQ(rig.host.BoxTexts(), row.boxes);
        EXPECT_EQ(rig.host.pauses, row.pauses);
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
        const bool sent = row.result == ResetResult::Sent;
        EXPECT_EQ(rig.Requests(),
                  sent ? std::vector<std::string>{"REQ,DEF,RST"} : std::vector<std::string>{});
        EXPECT_EQ(rig.printer->Value("FDC"), sent ? "50" : "80");
    }
    SimTaskRig rig;
    rig.host.boxAnswers = {MsgResult::Yes};
    identity::Reset(rig.msg, rig.host);
    ASSERT_EQ(rig.host.boxes.size(), 2u);
    EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(rig.host.boxes[0].icon, MsgIcon::Question);
    EXPECT_EQ(rig.host.boxes[1].buttons, MsgButtons::Ok);
    EXPECT_EQ(rig.host.boxes[1].icon, MsgIcon::Exclamation);
    EXPECT_EQ(rig.printer->Frames().at(0).bytes, Framed("REQ,DEF,RST"));
}

// The counters, typed commands and print files, on the simulated printer.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/frames.h"
#include "task_rig.h"

TEST(CountersTask, ReadsTheFourInOrderWithNoValueForOneNotAnswered) {
    SimTaskRig rig;
    rig.Set("TCN", std::nullopt);
    const auto values = counters::Read(rig.msg);
    EXPECT_EQ(rig.Requests(), (std::vector<std::string>{"REQ,STA,TCQ", "REQ,STA,TCP", "REQ,STA,TCN",
                                                        "REQ,STA,CCQ"}));
    // 5000 cards: the total counts modulo 4096.
    EXPECT_EQ(values, (std::array<std::optional<std::string>, counters::kCount>{
                          "904", "5210", std::nullopt, "412"}));
}

// Typed text goes out as it stands, to any family, cut to what the field
// holds; the printer gets a second to act on it.
TEST(CountersTask, QuickCommandGoesOutAsTypedOrWarnsWhenEmpty) {
    const std::string typed80(80, 'A');
    const struct {
        const char* what;
        std::string text;
        const char* version;
        bool printerThere;
        bool sent;
        std::vector<std::string> requests;
        std::vector<std::string> boxes;
        std::vector<int> pauses;
    } rows[] = {
        {"empty", "", "E3.05", true, false, {}, {counters::kNoCommandWarning}, {}},
        {"typed", "TST", "E3.05", true, true, {"REQ,TST"}, {}, {1000}},
        {"V printer", "MDL5", "V2.10", true, true, {"REQ,MDL5"}, {}, {1000}},
        {"too long", typed80, "E3.05", true, true, {"REQ," + typed80.substr(0, 63)}, {}, {1000}},
        {"printer gone",
         "TST",
         "E3.05",
         false,
         false,
         {},
         {CMessageIF::kConnectFailedText},
         {1000}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SimTaskRig rig(row.version);
        if (!row.printerThere) rig.SwitchOff();
        EXPECT_EQ(counters::SendQuickCommand(rig.msg, rig.host, row.text), row.sent);
        EXPECT_EQ(rig.Requests(), row.requests);
        EXPECT_EQ(rig.host.BoxTexts(), row.boxes);
        EXPECT_EQ(rig.host.pauses, row.pauses);
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
    }
    SimTaskRig rig;
    counters::SendQuickCommand(rig.msg, rig.host, "tst");
    EXPECT_EQ(rig.printer->Frames().at(0).bytes, Framed("REQ,tst"));
    counters::SendQuickCommand(rig.msg, rig.host, "");
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(rig.host.boxes[0].icon, MsgIcon::Exclamation);
}

TEST(CountersTask, PrintFileSaysWhyNotEveryByteWentOut) {
    namespace fs = std::filesystem;
    // Named by the clock: another checkout's run may share the temporary folder.
    const fs::path folder =
        fs::temp_directory_path() /
        ("tessaly-print-task-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    const std::string content =
        std::string("\x1b%-12345X\0\x05\x01\x03\x1c\xff", 15) + std::string(3000, 'C');
    const std::string path = (folder / "card.prn").string();
    std::ofstream(path, std::ios::binary) << content;
    using counters::PrintResult;
    const struct {
        const char* what;
        std::string path;
        std::string shown;
        long long hangUpAfter;  // bytes; -1 never
        PrintResult result;
        std::string box;  // the start of the one box; empty: none
    } rows[] = {
        {"sent", path, "card.prn", -1, PrintResult::Sent, ""},
        {"missing", path + ".gone", "shown.prn", -1, PrintResult::OpenFailed,
         "Error opening file:   \n''shown.prn''   "},
        {"no path", "", "", -1, PrintResult::OpenFailed, "Error opening file:   \n''''   "},
        {"hung up", path, "card.prn", 1000, PrintResult::Cut, "The printer "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SimTaskRig rig;
        rig.printer->UpdateState(
            [&](SimPrinterState& s) { s.faults.hangUpAfterBytes = row.hangUpAfter; });
        const counters::PrintReport report =
            counters::SendPrintFile(rig.msg, rig.host, row.path, row.shown);
        EXPECT_EQ(report.result, row.result);
        const bool opened = row.result != PrintResult::OpenFailed;
        EXPECT_EQ(report.length, opened ? static_cast<int64_t>(content.size()) : 0);
        if (row.result == PrintResult::Sent) {
            EXPECT_EQ(report.sent, report.length);
        }
        if (row.box.empty()) {
            EXPECT_TRUE(rig.host.boxes.empty());
        } else {
            ASSERT_EQ(rig.host.boxes.size(), 1u);
            EXPECT_EQ(rig.host.boxes[0].text.rfind(row.box, 0), 0u) << rig.host.boxes[0].text;
        }
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
    }
    fs::remove_all(folder);
}

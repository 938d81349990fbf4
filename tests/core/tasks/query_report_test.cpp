// The query and sensor report: its text rules line by line, and whole runs
// against the simulated printer, its faults and scripted replies. A run cut
// short must never pass for a whole one.
#include "tasks/query_report.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "links/character_interface.h"
#include "protocol/command_table.h"
#include "support/frames.h"
#include "task_rig.h"

namespace {

using Lines = std::vector<std::string>;
using query_report::RunEnd;

TEST(QueryReport, RepliesSplitIntoLines) {
    struct Case {
        const char* what;
        std::string reply;
        Lines lines;
    };
    const Case cases[] = {
        {"one line", "CARD IN HOPPER: YES", {"CARD IN HOPPER: YES"}},
        {"two lines", "A\nB", {"A", "B"}},
        {"carriage return stays with its line", "A\r\nB", {"A\r", "B"}},
        {"blank lines and indentation go", "A\n\n  B", {"A", "B"}},
        {"tabs, form feeds and vertical tabs are blank too", "A\n\t\v\f B\n \tC", {"A", "B", "C"}},
        {"blanks before a line feed stay", "A  \nB", {"A  ", "B"}},
        {"white space around a multi-line reply goes", " \r\n A\nB \n\n", {"A", "B"}},
        {"three lines, CR LF throughout", "X\r\nY\r\nZ\r\n", {"X\r", "Y\r", "Z"}},
        {"one line with a trailing line feed stays whole",
         "LAST ERROR: NONE\n",
         {"LAST ERROR: NONE\n"}},
        {"one line with white space around stays whole", "  \tA \r\n\n", {"  \tA \r\n\n"}},
        {"nothing came back", "", {""}},
        {"only white space", " \n\r\n ", {" \n\r\n "}},
        {"END with a line feed is a line", "END\n", {"END\n"}},
        {"8-bit bytes are text, not white space", "\xA0Z\n\xA0Y", {"\xA0Z", "\xA0Y"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(query_report::SplitReply(c.reply), c.lines) << c.what;
    }
}

TEST(QueryReport, HeadLinesCarryTitleConnectionAndStartTime) {
    std::tm started{};
    started.tm_hour = 9;
    started.tm_min = 5;
    started.tm_mday = 3;
    started.tm_mon = 0;
    started.tm_year = 124;
    EXPECT_EQ(
        query_report::HeadLines("SENSOR TEST RESULTS", kLinkEthernet, started),
        (Lines{"SENSOR TEST RESULTS", "", "Connected  Via  Ethernet", "", "9:05 3-1-2024", ""}));

    const std::pair<int, const char*> kinds[] = {
        {kLinkUsb, "Connected  Via  USB"},
        {kLinkParallel, "Connected  Via  Parallel Port"},
        {kLinkEthernet, "Connected  Via  Ethernet"},
        {7, "Connected  Via  Parallel Port"},
        {-1, "Connected  Via  Parallel Port"},
    };
    for (const auto& [kind, line] : kinds) EXPECT_EQ(query_report::ConnectionLine(kind), line);

    struct Time {
        int hour, minute, day, month0, year1900;
        const char* line;
    };
    const Time times[] = {
        {0, 0, 1, 0, 100, "0:00 1-1-2000"},
        {23, 59, 31, 11, 99, "23:59 31-12-1999"},
        {12, 7, 15, 9, 125, "12:07 15-10-2025"},
    };
    for (const Time& t : times) {
        std::tm tm{};
        tm.tm_hour = t.hour;
        tm.tm_min = t.minute;
        tm.tm_mday = t.day;
        tm.tm_mon = t.month0;
        tm.tm_year = t.year1900;
        EXPECT_EQ(query_report::StartTimeLine(tm), t.line);
    }
}

Lines Items(const query_report::RunResult& result) {
    return Lines(result.lines.begin() + 6, result.lines.end());
}

Lines Numbered(const std::string& mnemonic, int last) {
    Lines requests;
    for (int n = 1; n <= last; ++n) requests.push_back(mnemonic + std::to_string(n));
    return requests;
}

TEST(QueryReportRun, ListsTheItemsUnderTheHeadLinesUntilEnd) {
    struct Case {
        const char* what;
        const char* title;
        int command;
        const char* port;
        std::function<void(SimPrinterState&)> setUp;
        Lines requests;
        const char* connection;
        Lines items;
        RunEnd end = RunEnd::Complete;
    };
    const Case cases[] = {
        {"query: item 4 is skipped, item 6 ends",
         query_report::kQueryTitle,
         cmd::QPR,
         "Ethernet",
         {},
         Numbered("QPR", 6),
         "Connected  Via  Ethernet",
         {"MODEL: Sable", "FIRMWARE: E3.05", "SERIAL: E1234567", "PRINTHEAD: 300 DPI\r",
          "RIBBON: YMCKO\r", "RIBBON LEFT: 412 PANELS", "COUNTERS:", "TOTAL CARDS: 5000",
          "CLEANING CYCLES: 37", "LAST ERROR: NONE\n"}},
        {"sensors",
         query_report::kSensorTitle,
         cmd::SNR,
         "LPT2:",
         {},
         Numbered("SNR", 5),
         "Connected  Via  Parallel Port",
         {"CARD IN HOPPER: YES", "RIBBON SENSOR: OK", "LID SENSOR: CLOSED", "FLIP SENSOR: HOME",
          "MAG HEAD: PRESENT\n"}},
        {"the first answer is END",
         query_report::kQueryTitle,
         cmd::QPR,
         "USB",
         [](SimPrinterState& s) { s.queryItems = {}; },
         {"QPR1"},
         "Connected  Via  USB",
         {}},
        // The next item number would wrap to -128.
        {"asked up to item 127, no further", query_report::kQueryTitle, cmd::QPR, "Ethernet",
         [](SimPrinterState& s) {
             s.queryItems = {"FIRST"};
             s.numberedTailReply = "MORE\n";
         },
         Numbered("QPR", 127), "Connected  Via  Ethernet",
         [] {
             Lines items(127, "MORE\n");
             items[0] = "FIRST";
             return items;
         }(),
         RunEnd::ItemLimit},
    };
    std::tm started{};
    started.tm_hour = 9;
    started.tm_mday = 3;
    started.tm_year = 124;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TaskRig rig(c.setUp, "E3.05", c.port);
        Lines seen;
        const query_report::RunResult result = query_report::Run(
            rig.msg, c.title, c.command, started, [&](const std::string& l) { seen.push_back(l); });
        EXPECT_EQ(rig.Requests(), c.requests);
        EXPECT_EQ(Lines(result.lines.begin(), result.lines.begin() + 6),
                  (Lines{c.title, "", c.connection, "", "9:00 3-1-2024", ""}));
        EXPECT_EQ(Items(result), c.items);
        EXPECT_EQ(result.end, c.end);
        // Every line is seen as it comes.
        EXPECT_EQ(seen, result.lines);
    }
}

TEST(QueryReportRun, EndsCompleteOnlyOnEndAndStopsAfterThreeUnansweredItems) {
    struct Case {
        const char* what;
        Lines printerItems;  // "" : no reply
        SimFaults faults;
        RunEnd end;
        int stoppedAt;
        Lines items;
        std::vector<int> unanswered = {};
        int offAfterItems = -1;
        const char* version = "E3.05";
    };
    const Case cases[] = {
        {"one unanswered item is an empty line",
         {"A", "", "B"},
         {},
         RunEnd::Complete,
         0,
         {"A", "", "B"},
         {2}},
        {"two in a row still go on",
         {"A", "", "", "B"},
         {},
         RunEnd::Complete,
         0,
         {"A", "", "", "B"},
         {2, 3}},
        {"three in a row end the run", {"A", "", "", "", "B"}, {}, RunEnd::Unanswered, 2, {"A"}},
        {"killed mid-report", {"A", "B", "C"}, {}, RunEnd::Unanswered, 3, {"A", "B"}, {}, 2},
        {"closes", {"A"}, {.closeOnRequest = true}, RunEnd::Unanswered, 1, {}},
        {"garbage", {"A"}, {.garbageReplies = true}, RunEnd::Unanswered, 1, {}},
        {"silent", {"A"}, {.silent = true}, RunEnd::Unanswered, 1, {}},
        {"not for this family", {"A"}, {}, RunEnd::Unanswered, 1, {}, {}, -1, "V2.10"},
        {"never says END", Lines(127, "X"), {}, RunEnd::ItemLimit, 127, Lines(127, "X")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TaskRig rig(
            [&](SimPrinterState& s) {
                s.queryItems = c.printerItems;
                s.faults = c.faults;
            },
            c.version);
        if (c.offAfterItems >= 0) rig.OffAfter(c.offAfterItems);
        const query_report::RunResult result =
            query_report::Run(rig.msg, query_report::kQueryTitle, cmd::QPR, std::tm{});
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.stoppedAt, c.stoppedAt);
        EXPECT_EQ(Items(result), c.items);
        EXPECT_EQ(result.unanswered, c.unanswered);
        EXPECT_EQ(query_report::IncompleteText(result).has_value(), !result.Complete());
    }
}

// Only the whole replies "END" and "@@@" are markers; a link that gives up
// mid-run ends it without a reconnect.
TEST(QueryReportRun, ReplyMarkersAndALinkThatFailsMidRun) {
    ScriptedTaskRig rig;
    ScriptedLink& link = rig.Connect();
    const int opens = link.opens;
    link.QueueReply("A\r\nB");                              // 1
    link.QueueReply(std::string(1, '\0'));                  // 2: an empty reply, an empty line
    link.QueueReply("@@@");                                 // 3
    link.QueueReply("END\n");                               // 4: not the end marker
    link.QueueReply("@@@\n");                               // 5: nor the skip marker
    link.QueueReply("C");                                   // 6
    link.writeResults = {-1, -1, -1, -1, -1, -1, 0, 0, 0};  // 7 to 9: the link gives up
    link.QueueReply("NEVER READ");
    const query_report::RunResult result =
        query_report::Run(rig.msg, query_report::kQueryTitle, cmd::QPR, std::tm{});

    ASSERT_EQ(link.writes.size(), 6u);
    for (size_t i = 0; i < link.writes.size(); ++i) {
        EXPECT_EQ(link.writes[i], Framed("QPR" + std::to_string(i + 1)));
    }
    EXPECT_EQ(Items(result), (Lines{"A\r", "B", "", "END\n", "@@@\n", "C"}));
    EXPECT_EQ(result.lines[2], "Connected  Via  USB");
    EXPECT_EQ(result.end, RunEnd::Unanswered);
    EXPECT_EQ(result.stoppedAt, 7);
    EXPECT_EQ(link.opens, opens);
    EXPECT_TRUE(rig.host.boxes.empty());
}

TEST(QueryReport, IncompleteAndSavedTexts) {
    query_report::RunResult result;
    EXPECT_EQ(query_report::IncompleteText(result), std::nullopt);
    result.end = RunEnd::Unanswered;
    result.stoppedAt = 7;
    EXPECT_EQ(query_report::IncompleteText(result),
              "The printer stopped answering at item 7: the report is incomplete.");
    result.end = RunEnd::ItemLimit;
    result.stoppedAt = 127;
    EXPECT_EQ(query_report::IncompleteText(result),
              "The printer sent no end of the report by item 127: the report is incomplete.");

    // Every line followed by CR LF, bytes as they came.
    const std::pair<Lines, std::string> saved[] = {
        {{}, ""},
        {{"TITLE", "", "x"}, "TITLE\r\n\r\nx\r\n"},
        {{"TEMP: 25\xB0", "CAF\xC9\r", "OK\n"}, "TEMP: 25\xB0\r\nCAF\xC9\r\r\nOK\n\r\n"},
    };
    for (const auto& [lines, text] : saved) EXPECT_EQ(query_report::SavedText(lines), text);
}

}  // namespace

#include "tasks/query_report.h"

#include <gtest/gtest.h>

#include "links/character_interface.h"

namespace {

using Lines = std::vector<std::string>;

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

}  // namespace

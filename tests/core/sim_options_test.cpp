// The simulated printer's options as the window and the command-line tool
// take them after --simulated-printer, and their help against the manuals.

#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

TEST(SimPrinterOptions, TakenAfterTheWordUpToTheFrontEndsOwn) {
    struct Row {
        Words args;
        Words left;                                 // what the front end parses itself
        std::string problem;                        // empty: none
        std::map<std::string, std::string> values;  // expected status values
    };
    const Row rows[] = {
        {{"--usb", "X", "counters"}, {"--usb", "X", "counters"}, "", {}},
        // Any word as a text's value, the last of a repeated option, every
        // --value; the first word that is no simulator option ends them.
        {{"--ethernet", "h",       "--simulated-printer",
          "--serial",   "-S1",     "--pid",
          "-5",         "--model", "1",
          "--model",    "2",       "--value",
          "AAA=1",      "--value", "BBB=x=y",
          "--serial",   "S2",      "counters",
          "--serial",   "Z"},
         {"--ethernet", "h", "counters", "--serial", "Z"},
         "",
         {{"MSR", "S2"}, {"PID", "-5"}, {"MDL", "2"}, {"AAA", "1"}, {"BBB", "x=y"}}},
        {{"--simulated-printer", "--pid", "0x10"}, {}, "--pid: expected a number", {}},
        {{"--simulated-printer", "--fault", "close", "--fault", "melt"},
         {},
         "--fault: unknown fault",
         {}},
        {{"--simulated-printer", "--value", "=x"}, {}, "--value: expected MN=TEXT", {}},
        {{"--simulated-printer", "--usb-printers", "11"},
         {},
         "--usb-printers: expected a count of 1 to 10",
         {}},
        {{"--simulated-printer", "--busy-ms", "-1"},
         {},
         "--busy-ms: expected milliseconds (0 or more)",
         {}},
        {{"--simulated-printer", "--checksum", "right"},
         {},
         "--checksum: expected correct, omitted, wrong or unsigned",
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        Words args = row.args;
        bool asked = false;
        SimPrinterState state;
        const std::optional<std::string> problem = TakeSimulatedPrinterOptions(args, asked, state);
        EXPECT_EQ(asked, row.args != row.left);
        EXPECT_EQ(problem.value_or(""), row.problem);
        if (problem) continue;
        EXPECT_EQ(args, row.left);
        for (const auto& [mnemonic, value] : row.values) EXPECT_EQ(state.values[mnemonic], value);
    }
}

TEST(SimPrinterOptions, RepeatedFaultsAllApplyAndTimingIsSet) {
    Words args = {"--simulated-printer",
                  "--fault",
                  "close",
                  "--fault",
                  "hang-up",
                  "--track2",
                  "",
                  "--never-end",
                  "--checksum",
                  "unsigned",
                  "--busy-ms",
                  "7",
                  "--busy-after-bytes",
                  "4096",
                  "--off-after-frames",
                  "0",
                  "--usb-printers",
                  "3"};
    bool asked = false;
    SimPrinterState state;
    ASSERT_EQ(TakeSimulatedPrinterOptions(args, asked, state), std::nullopt);
    EXPECT_TRUE(args.empty());
    EXPECT_TRUE(state.faults.closeOnRequest && state.faults.hangUpMidReply);
    EXPECT_FALSE(state.faults.silent);
    EXPECT_EQ(state.card[1].data, "");
    EXPECT_EQ(state.numberedTailReply, "@@@");
    EXPECT_EQ(state.checksumReply, SimChecksumReply::Unsigned);
    EXPECT_EQ(state.timing.busyMs, 7);
    EXPECT_EQ(state.timing.busyAfterBytes, 4096);
    EXPECT_EQ(state.timing.offAfterFrames, 0);
    EXPECT_EQ(state.usbPrinters, 3);
}

// The manuals describe every option the help lists.
TEST(SimPrinterOptions, EveryOptionInTheHelpIsInBothManualPages) {
    const std::string help = SimPrinterOptionsHelp();
    const std::regex option("--[a-z0-9-]+");
    for (const char* page : {"tessaly-printer-sim.1", "tessaly.1"}) {
        std::ifstream file(std::string(TESSALY_SOURCE_DIR) + "/packaging/man/" + page);
        std::stringstream text;
        text << file.rdbuf();
        const std::string manual = std::regex_replace(text.str(), std::regex("\\\\-"), "-");
        ASSERT_FALSE(manual.empty()) << page;
        for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
             it != std::sregex_iterator(); ++it) {
            EXPECT_NE(manual.find(it->str()), std::string::npos) << page << ": " << it->str();
        }
    }
}

}  // namespace

// The simulated printer's options as the window and the command-line tool
// take them after --simulated-printer, and their help against the manuals.

#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

struct Taken {
    Words left;  // what the front end parses itself
    bool asked = false;
    std::optional<std::string> problem;
    SimPrinterState state;
};

Words Split(const std::string& line) {
    std::istringstream words(line);
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

Taken Take(Words args) {
    Taken taken;
    taken.problem = TakeSimulatedPrinterOptions(args, taken.asked, taken.state);
    taken.left = std::move(args);
    return taken;
}

TEST(SimPrinterOptions, TakenAfterTheWordUpToTheFrontEndsOwn) {
    EXPECT_FALSE(Take({"--usb", "X", "counters"}).asked);
    // Any word as a text's value (an empty one too), the last of a repeated
    // option, every --value and --fault, each with one word.
    Words args = Split(
        "--ethernet h --simulated-printer --serial -S1 --pid -5 --model 1 --model 2 --value AAA=1 "
        "--value BBB=x=y --fault close --never-end --checksum unsigned --busy-ms 7 "
        "--busy-after-bytes 4096 --off-after-frames 0 --usb-printers 3 --track2");
    args.push_back("");
    for (const std::string& word : Split("--fault hang-up counters --serial Z"))
        args.push_back(word);
    Taken taken = Take(args);
    ASSERT_EQ(taken.problem, std::nullopt);
    EXPECT_TRUE(taken.asked);
    EXPECT_EQ(taken.left, (Words{"--ethernet", "h", "counters", "--serial", "Z"}));
    SimPrinterState& state = taken.state;
    for (const auto& [mnemonic, value] : std::map<std::string, std::string>{
             {"MSR", "-S1"}, {"PID", "-5"}, {"MDL", "2"}, {"AAA", "1"}, {"BBB", "x=y"}}) {
        EXPECT_EQ(state.values[mnemonic], value) << mnemonic;
    }
    EXPECT_TRUE(state.faults.closeOnRequest && state.faults.hangUpMidReply);
    EXPECT_EQ(state.card[1].data, "");
    EXPECT_EQ(state.numberedTailReply, "@@@");
    EXPECT_EQ(state.checksumReply, SimChecksumReply::Unsigned);
    EXPECT_EQ(state.timing.busyMs, 7);
    EXPECT_EQ(state.timing.busyAfterBytes, 4096);
    EXPECT_EQ(state.timing.offAfterFrames, 0);
    EXPECT_EQ(state.usbPrinters, 3);
}

TEST(SimPrinterOptions, ABadValueIsRefusedWithItsReason) {
    const std::pair<Words, std::string> rows[] = {
        {{"--pid", "0x10"}, "--pid: expected a number"},
        {{"--fault", "close", "--fault", "melt"}, "--fault: unknown fault"},
        {{"--value", "=x"}, "--value: expected MN=TEXT"},
        {{"--usb-printers", "11"}, "--usb-printers: expected a count of 1 to 10"},
        {{"--busy-ms", "-1"}, "--busy-ms: expected milliseconds (0 or more)"},
        {{"--checksum", "right"}, "--checksum: expected correct, omitted, wrong or unsigned"},
        {{"--off-after-frames", "x"}, "--off-after-frames: expected a count (0 or more)"},
    };
    for (const auto& [words, problem] : rows) {
        Words args = {"--simulated-printer"};
        args.insert(args.end(), words.begin(), words.end());
        EXPECT_EQ(Take(args).problem, problem);
    }
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
        for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
             it != std::sregex_iterator(); ++it) {
            EXPECT_NE(manual.find(it->str()), std::string::npos) << page << ": " << it->str();
        }
    }
}

}  // namespace

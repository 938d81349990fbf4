// tessaly-cli end to end: the program's entry function runs in process
// against the TCP simulator on a loopback port, and each case checks the
// exit code, what the operator reads, and the frames the printer received.

#include "cli/cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "links/trace_link.h"
#include "protocol/message_if.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"
#include "support/frames.h"
#include "support/time_scale.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// One frame as a line of the table: the request's text with every byte
// outside printable ASCII as \xNN; transfers by kind and length.
std::string Describe(const SimFrame& frame) {
    std::string text;
    switch (frame.kind) {
        case SimFrameKind::Firmware:
        case SimFrameKind::Laminator:
            return frame.mnemonic + frame.parameter + "+" + std::to_string(frame.dataLength);
        case SimFrameKind::Raw:
            return "raw:" + frame.bytes;
        default:
            break;
    }
    for (char c : frame.prefix + frame.mnemonic + frame.parameter) {
        if (c >= 0x20 && c < 0x7F) {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            text += hex;
        }
    }
    return text;
}

std::string Describe(const std::vector<SimFrame>& frames) {
    std::string text;
    for (const SimFrame& frame : frames) text += (text.empty() ? "" : " ") + Describe(frame);
    return text;
}

std::string FramesOnceSettled(const CSimPrinter& printer, const std::string& expected) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2 * TestTimeScale());
    std::string frames = Describe(printer.Frames());
    while (frames != expected && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        frames = Describe(printer.Frames());
    }
    return frames;
}

// A simulated printer on a free loopback port, and a folder for files.
class CliRig {
public:
    explicit CliRig(const std::function<void(SimPrinterState&)>& setUp = {}) {
        SimPrinterState state;
        if (setUp) setUp(state);
        printer = std::make_shared<CSimPrinter>(state);
        server = std::make_unique<CSimTcpServer>(printer);
        EXPECT_TRUE(server->Start(0));
        // Named by the server's port, which no other test program running
        // at the same time can hold: two started in the same millisecond
        // share a random seed, and one would delete the other's files.
        folder = fs::temp_directory_path() / ("tessaly-cli-test-" + std::to_string(server->Port()) +
                                              "-" + std::to_string(counter++));
        fs::create_directories(folder);
        std::ofstream(folder / "card.prn", std::ios::binary) << "PRINT\x1b*DATA";
        std::ofstream(folder / "new.cfe", std::ios::binary) << std::string(2500, '\x7f');
        std::ofstream(folder / "lam.hex", std::ios::binary) << ":10000000ABCDEF";
    }
    ~CliRig() { fs::remove_all(folder); }

    std::string Address() const { return "127.0.0.1:" + std::to_string(server->Port()); }

    // Runs the program; pauses are recorded, not slept.
    int Run(std::vector<std::string> args) {
        for (std::string& arg : args) {
            if (const size_t at = arg.find("{dir}"); at != std::string::npos) {
                arg.replace(at, 5, folder.string());
            }
        }
        CliEnvironment environment;
        environment.sleep = [this](int ms) { paused += ms; };
        environment.receiveWaitMs = kReceiveWaitMs;
        environment.stderrIsTerminal = terminal;
        environment.resolve = [this](const std::string& name, std::string& error) {
            lookups.push_back(name);
            if (name == "printer.test") return std::optional<uint32_t>(0x7F000001);
            error = "no such host";
            return std::optional<uint32_t>();
        };
        out.str({});
        err.str({});
        return RunCli(args, out, err, environment);
    }

    std::shared_ptr<CSimPrinter> printer;
    std::unique_ptr<CSimTcpServer> server;
    fs::path folder;
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<int> paused{0};
    bool terminal = false;             // standard error as a terminal
    std::vector<std::string> lookups;  // host names looked up, in order
    static inline int counter = 0;
    // A printer that says nothing costs this per request left unanswered.
    static inline const int kReceiveWaitMs = 500 * TestTimeScale();
};

struct Case {
    const char* name;
    std::vector<std::string> args;  // after --ethernet <the simulator>
    std::function<void(SimPrinterState&)> printer;
    int exitCode;
    std::vector<std::string> out;  // each must appear on standard output
    std::string err;               // must appear on standard error
    std::string frames;            // every frame the printer received, in order
    int pausedMs = -1;             // the pauses the program took; -1: not checked
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

constexpr const char* kVrs = "REQ,STA,VRS";
const std::string kIdentityFrames = std::string(kVrs) + " " + kVrs +
                                    " REQ,STA,MSR REQ,STA,VRS REQ,STA,PID REQ,STA,FDC REQ,STA,FSP "
                                    "REQ,STA,FEP REQ,STA,FPP REQ,STA,MDL";
const std::string kCounterFrames = "REQ,STA,TCQ REQ,STA,TCP REQ,STA,TCN REQ,STA,CCQ";
const std::string kNetworkFrames =
    "REQ,STA,PID REQ,STA,MAC REQ,STA,DYN REQ,STA,IPA REQ,STA,SNM REQ,STA,GWY";

void Family(SimPrinterState& state, const char* version) { state.values["VRS"] = version; }
void Silent(SimPrinterState& state) { state.faults.silent = true; }

const Case kCases[] = {
    {"identity",
     {"identity"},
     {},
     0,
     {"Serial Number: E1234567\n", "Model: Sable\n", "Firmware Version: E3.05\n",
      "Product ID: 0x1800\n", "Printhead Density: 50\n"},
     "",
     kIdentityFrames,
     0},
    {"identity_set_four_requests",
     {"identity", "--set", "FDC=55", "--set", "FPP=3"},
     {},
     0,
     {"Printhead Density: 55\n", "Printhead Position: 3\n"},
     "",
     kIdentityFrames + " REQ,MOD,FDC55 REQ,MOD,FSP40 REQ,MOD,FEP1010 REQ,MOD,FPP3 " +
         kIdentityFrames.substr(std::string(kVrs).size() + 1),
     4 * (2200 + 200)},
    {"identity_set_mip_on_j",
     {"identity", "--set", "FSP=41"},
     [](SimPrinterState& s) { Family(s, "J2.00"); },
     0,
     {"Image Start: 41\n"},
     "",
     kIdentityFrames + " REQ,MIP50:41:1010:0 " +
         kIdentityFrames.substr(std::string(kVrs).size() + 1),
     2200},
    {"reset_needs_yes",
     {"reset"},
     {},
     2,
     {},
     "default values. Are you sure you wish to do this? No: give --yes",
     kVrs,
     0},
    {"reset",
     {"reset", "--yes"},
     {},
     0,
     {"Reset sent\n"},
     "Please allow the printer to reset before reconnecting",
     std::string(kVrs) + " REQ,DEF,RST",
     500},
    {"counters",
     {"counters"},
     {},
     0,
     {"Total Cards Printed: 904\n", "Total No. of Cards on Printhead: 5210\n",
      "Total Cleaning Cycles: 37\n", "Cards Printed Since Last Clean: 412\n"},
     "",
     std::string(kVrs) + " " + kCounterFrames,
     0},
    {"send_in_capitals",
     {"send", "tst"},
     {},
     0,
     {"Sent: TST\n", "Total Cards Printed: 905\n"},
     "",
     std::string(kVrs) + " REQ,TST " + kCounterFrames,
     1000},
    {"print",
     {"print", "{dir}/card.prn"},
     {},
     0,
     {"Sent "},
     "",
     std::string(kVrs) + " raw:PRINT\x1b*DATA"},
    {"print_missing_file", {"print", "{dir}/none.prn"}, {}, 4, {}, "Error opening file:", kVrs},
    {"upgrade_missing_file",
     {"upgrade", "{dir}/none.cfe", "--yes"},
     {},
     4,
     {},
     "",
     std::string(kVrs) + " " + kVrs},
    {"upgrade_wrong_extension",
     {"upgrade", "{dir}/card.prn", "--yes"},
     {},
     1,
     {},
     "",
     std::string(kVrs) + " " + kVrs},
    {"upgrade",
     {"upgrade", "{dir}/new.cfe", "--yes"},
     {},
     0,
     {"Upgrade: upgraded\n", "Firmware version before: E3.05\n", "Firmware version after: E3.05\n"},
     "Successfully sent firmware to the printer.",
     std::string(kVrs) + " " + kVrs + " FRM2500+2500 REQ,UPG " + kVrs,
     500 + 10000},
    {"upgrade_checksum_mismatch",
     {"upgrade", "{dir}/new.cfe", "--yes"},
     [](SimPrinterState& s) { s.checksumReply = SimChecksumReply::Wrong; },
     1,
     {"Upgrade: failed\n"},
     "An error occurred sending the file!",
     std::string(kVrs) + " " + kVrs + " FRM2500+2500",
     500},
    {"laminator_on_h",
     {"upgrade-laminator", "{dir}/lam.hex", "--yes"},
     [](SimPrinterState& s) { Family(s, "H2.02"); },
     0,
     {"Upgrade: upgraded\n"},
     "Please wait for laminator to reset",
     std::string(kVrs) + " LAM_FRM15+15"},
    {"query_saved",
     {"query", "--save", "{dir}/query.txt"},
     {},
     0,
     {"QUERY PRINTER RESULTS\n\nConnected  Via  Ethernet\n", "MODEL: Sable\n"},
     "",
     std::string(kVrs) + " QPR1 QPR2 QPR3 QPR4 QPR5 QPR6"},
    {"network",
     {"network"},
     {},
     0,
     {"MAC address (HEX): 00:1B:2C:3D:4E:5F\n", "IP address mode: Static\n",
      "IP address: 192.168.102.50\n", "Subnet mask: 255.255.255.0\n"},
     "",
     std::string(kVrs) + " " + kNetworkFrames,
     0},
    {"network_save",
     {"network", "--dhcp", "--ip", "10.0.0.1", "--yes"},
     {},
     0,
     {"IP address mode: Dynamic\n", "IP address: 10.0.0.1\n"},
     "",
     std::string(kVrs) + " " + kNetworkFrames +
         " REQ,MOD,DYN1 REQ,MOD,IPA167772161 REQ,MOD,SNM-256 REQ,MOD,GWY-1062705663 " +
         kNetworkFrames,
     4 * 2200},
    {"network_not_applicable",
     {"network", "--static", "--yes"},
     [](SimPrinterState& s) { s.values["PID"] = "6143"; },
     1,
     {"MAC address (HEX): Not Applicable"},
     "Not Applicable",
     std::string(kVrs) + " REQ,STA,PID"},
    {"encode",
     {"encode", "--track1", "ab", "--track3", "99", "--hi-co"},
     {},
     0,
     {"Encoded (high coercivity)\n"},
     "",
     std::string(kVrs) + " REQ,STA,MDL NOC0,BBB,MGVON,VER5,COEH,MAG1,AB,MAG3,99"},
    {"encode_without_tracks", {"encode"}, {}, 2, {}, "give --track1", ""},
    {"encode_self_test",
     {"encode", "--self-test"},
     {},
     0,
     {"Self test started\n"},
     "",
     std::string(kVrs) + " REQ,ENC",
     200},
    {"read_card",
     {"read-card", "--tracks", "1,2"},
     {},
     0,
     {"Track1 pass: %", "Track2 pass: ;", "Track3 off\n"},
     "",
     std::string(kVrs) + " REQ,STA,VRS REQ,MSV\\x03"},
    {"read_card_track_failed",
     {"read-card", "--tracks", "2", "--json"},
     [](SimPrinterState& s) { s.card[1].failed = true; },
     1,
     {"\"result\": \"fail\"", "\"text\": \"Track2 FAILED\""},
     "",
     std::string(kVrs) + " REQ,STA,VRS REQ,MSV\\x02"},
    {"eject", {"eject"}, {}, 0, {"Ejected\n"}, "", std::string(kVrs) + " REQ,EJT"},
    {"bad_setting", {"identity", "--set", "XYZ=1"}, {}, 2, {}, "--set takes", ""},
    // Nothing typed may end a frame early and smuggle in a request of its
    // own; nor be cut without a word.
    {"setting_with_frame_end",
     {"identity", "--set", "FDC=5\x1c\x03REQ,UPG,"},
     {},
     2,
     {},
     "takes digits only",
     ""},
    // What the page's fields take, and no more.
    {"setting_not_digits", {"identity", "--set", "FSP=4O"}, {}, 2, {}, "takes digits only", ""},
    {"setting_too_long",
     {"identity", "--set", "FSP=" + std::string(64, '1')},
     {},
     2,
     {},
     "at most 63",
     ""},
    // Writes that could lose the printer on the network are asked for.
    {"network_save_needs_yes", {"network", "--dhcp"}, {}, 2, {}, "only with --yes", ""},
    {"one_fixed_address_for_two_printers",
     {"--ethernet", "127.0.0.2", "network", "--static", "--ip", "10.0.0.1", "--yes"},
     {},
     2,
     {},
     "name one printer",
     ""},
    {"misspelt_command", {"identiy"}, {}, 2, {}, "did you mean identity?", ""},
    {"track_with_frame_end",
     {"encode", "--track2", "12\x1c\x03REQ,UPG,"},
     {},
     2,
     {},
     "a track takes none below 0x20",
     ""},
    {"send_beyond_the_command_field", {"send", std::string(64, 'T')}, {}, 2, {}, "at most 63", ""},
    {"counters_none_reported",
     {"counters"},
     [](SimPrinterState& s) {
         for (const char* name : {"TCQ", "TCP", "TCN", "CCQ"}) s.values.erase(name);
     },
     1,
     {},
     "The printer reported none of the counters.",
     std::string(kVrs) + " " + kCounterFrames},
    // A printer that says nothing costs one wait, whatever the command, and
    // is named for what it is.
    {"identity_silent", {"identity"}, Silent, 1, {}, "the printer did not answer VRS within", kVrs},
    {"upgrade_silent",
     {"upgrade", "{dir}/new.cfe", "--yes"},
     Silent,
     1,
     {},
     "the printer did not answer VRS within",
     kVrs},
    {"network_silent", {"network"}, Silent, 1, {}, "the printer did not answer VRS within", kVrs},
    {"counters_silent_after_connecting",
     {"counters"},
     [](SimPrinterState& s) { s.timing.offAfterFrames = 1; },
     1,
     {},
     "the printer did not answer TCQ within",
     kVrs},
};

class CliCommand : public ::testing::TestWithParam<Case> {};

TEST_P(CliCommand, EndToEndAgainstTheTcpSimulator) {
    const Case& c = GetParam();
    // Every command at once and with a printer that takes its time.
    for (const int delayMs : {0, 15}) {
        SCOPED_TRACE("reply delay " + std::to_string(delayMs) + " ms");
        CliRig rig([&](SimPrinterState& state) {
            if (c.printer) c.printer(state);
            state.timing.replyDelayMs = delayMs;
            state.timing.cardDelayMs = delayMs * 4;
            state.timing.flashMs = delayMs * 4;
        });
        std::vector<std::string> args = {"--ethernet", rig.Address()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(rig.Run(args), c.exitCode) << rig.err.str();
        // At most one request goes unanswered.
        EXPECT_LT(MsSince(started), 2 * CliRig::kReceiveWaitMs + 1000 * TestTimeScale());
        // Every failure is explained.
        if (c.exitCode != 0) {
            EXPECT_NE(rig.err.str(), "");
        }
        for (const std::string& text : c.out) EXPECT_THAT(rig.out.str(), HasSubstr(text));
        EXPECT_THAT(rig.err.str(), HasSubstr(c.err));
        // A command that ends on a write reads nothing back: the simulator
        // may still be taking in the last frame when the program is done.
        EXPECT_EQ(FramesOnceSettled(*rig.printer, c.frames), c.frames);
        if (c.pausedMs >= 0) {
            EXPECT_EQ(rig.paused.load(), c.pausedMs);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, CliCommand, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Cli, SavedReportEndsEveryLineInCrLf) {
    CliRig rig;
    ASSERT_EQ(rig.Run({"--ethernet", rig.Address(), "sensors", "--save", "{dir}/s.txt"}), 0);
    std::ifstream file(rig.folder / "s.txt", std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(file)), {});
    EXPECT_THAT(saved, ::testing::StartsWith("SENSOR TEST RESULTS\r\n\r\nConnected  Via  Ethernet"
                                             "\r\n\r\n"));
    // A one-line reply keeps its own line feed, as the printer sent it.
    EXPECT_THAT(saved, ::testing::EndsWith("MAG HEAD: PRESENT\n\r\n"));

    EXPECT_EQ(rig.Run({"--ethernet", rig.Address(), "sensors", "--save", "/no/such/dir/s.txt"}), 4);
    EXPECT_THAT(rig.err.str(), HasSubstr("The report could not be saved to /no/such/dir/s.txt"));
}

// The printer drops the connection at every request from the one after
// the request `trigger` on.
void DropAfter(CliRig& rig, const std::string& trigger) {
    rig.printer->SetFrameObserver([printer = rig.printer.get(), trigger](const SimFrame& frame) {
        if (frame.mnemonic + frame.parameter != trigger) return;
        printer->UpdateState([](SimPrinterState& s) { s.faults.closeOnRequest = true; });
    });
}

TEST(Cli, AnIncompleteReportExitsOneAndReplacesASavedFileOnlyWhenAsked) {
    CliRig rig;
    std::ofstream(rig.folder / "q.txt", std::ios::binary) << "earlier\r\n";
    const auto saved = [&] {
        std::ifstream file(rig.folder / "q.txt", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    };
    for (const bool anyway : {false, true}) {
        rig.printer->UpdateState([](SimPrinterState& s) { s.faults.closeOnRequest = false; });
        DropAfter(rig, "QPR2");
        std::vector<std::string> args = {"--ethernet", rig.Address(), "--json",
                                         "query",      "--save",      "{dir}/q.txt"};
        if (anyway) args.push_back("--save-incomplete");
        EXPECT_EQ(rig.Run(args), 1);
        EXPECT_THAT(rig.out.str(), HasSubstr("\"complete\": false,\n    \"stopped_at_item\": 3"));
        EXPECT_THAT(
            rig.err.str(),
            HasSubstr("The printer stopped answering at item 3: the report is incomplete."));
        if (anyway) {
            EXPECT_THAT(saved(), ::testing::StartsWith("QUERY PRINTER RESULTS\r\n"));
            EXPECT_THAT(saved(), ::testing::EndsWith("RIBBON LEFT: 412 PANELS\r\n"));
        } else {
            EXPECT_THAT(rig.out.str(), HasSubstr("\"saved\": null"));
            EXPECT_THAT(rig.err.str(), HasSubstr("The incomplete report was not saved to"));
            EXPECT_EQ(saved(), "earlier\r\n");
        }
    }
}

// The printer stops answering before the save: no write reaches it, and the
// program says so of each instead of claiming the save.
TEST(Cli, ANetworkSaveThatDidNotGoOutSaysWhichSettingsWentOut) {
    CliRig rig;
    DropAfter(rig, "SNM");
    EXPECT_EQ(rig.Run({"--ethernet", rig.Address(), "--json", "network", "--dhcp", "--ip",
                       "10.0.0.1", "--yes"}),
              1);
    EXPECT_THAT(rig.out.str(), HasSubstr("\"saved\": false"));
    EXPECT_THAT(rig.out.str(), HasSubstr("\"value\": \"10.0.0.1\",\n        \"sent\": false"));
    EXPECT_THAT(rig.err.str(),
                HasSubstr("The save did not go out: the printer may still hold its earlier IP "
                          "address mode, IP address, Subnet mask."));
    EXPECT_THAT(rig.err.str(), HasSubstr("could not be read back"));
}

// Printers of a fleet save side by side, each to a file of its own.
TEST(Cli, FleetSavesNeedAFilePerPrinter) {
    CliRig first, second;
    const auto run = [&](const std::string& address, const char* save) {
        return first.Run(
            {"--ethernet", first.Address(), "--ethernet", address, "sensors", "--save", save});
    };
    EXPECT_EQ(run(second.Address(), "{dir}/s.txt"), 2);
    EXPECT_THAT(first.err.str(), HasSubstr("--save in a fleet takes a pattern with {addr}"));
    // One printer named twice is one printer with one file.
    EXPECT_EQ(run(first.Address(), "{dir}/s-{addr}.txt"), 0) << first.err.str();

    EXPECT_EQ(run(second.Address(), "{dir}/s-{addr}.txt"), 0) << first.err.str();
    for (const CliRig* rig : {&first, &second}) {
        std::ifstream file(
            first.folder / ("s-127.0.0.1_" + std::to_string(rig->server->Port()) + ".txt"),
            std::ios::binary);
        EXPECT_THAT(std::string((std::istreambuf_iterator<char>(file)), {}),
                    ::testing::StartsWith("SENSOR TEST RESULTS\r\n"));
    }
    // Nothing else: no temporary file left beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(first.folder), fs::directory_iterator()), 5);
}

// One dead printer among live ones: the others are served, each printer's
// line is whole, and the exit code is the worst.
TEST(Cli, FleetPrintsInTheOrderGivenOneLineAPrinterAndSumsUp) {
    // The first printer named is the last to finish.
    CliRig slow([](SimPrinterState& s) { s.timing.replyDelayMs = 100; });
    CliRig fast;
    std::ofstream(slow.folder / "one-printer") << fast.Address() << "\n";
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "on a terminal" : "redirected");
        slow.terminal = terminal;
        // Named twice, the slow printer is still asked once.
        EXPECT_EQ(slow.Run({"--ethernet", slow.Address(), "--ethernet", fast.Address(),
                            "--ethernet", slow.Address(), "counters"}),
                  0);
        const std::string out = slow.out.str();
        EXPECT_LT(out.find(slow.Address() + ": Total Cards Printed"),
                  out.find(fast.Address() + ": Total Cards Printed"))
            << out;
        EXPECT_THAT(slow.err.str(), ::testing::EndsWith("2 printers: 2 ok, 0 failed\n"));
        EXPECT_EQ(slow.err.str().find("\rPrinters done: 2 of 2\n") != std::string::npos, terminal)
            << slow.err.str();
    }
    EXPECT_EQ(Describe(slow.printer->Frames()),
              std::string(kVrs) + " " + kCounterFrames + " " + kVrs + " " + kCounterFrames);
    // A fleet file of one printer still gives a line a printer.
    EXPECT_EQ(slow.Run({"--ethernet-file", "{dir}/one-printer", "--json", "counters"}), 0);
    const std::string line = slow.out.str();
    // One JSON object on one line.
    EXPECT_TRUE(line.size() > 2 && line.front() == '{' && line.find('\n') == line.size() - 1 &&
                line.substr(line.size() - 2) == "}\n")
        << line;
}

TEST(Cli, PrintersByNameAreLookedUpOnceAndShowTheAddressUsed) {
    CliRig rig;
    const std::string named = "printer.test:" + std::to_string(rig.server->Port());
    EXPECT_EQ(rig.Run({"--ethernet", named, "eject"}), 0) << rig.err.str();
    EXPECT_THAT(rig.out.str(), HasSubstr("Printer: " + named + " (127.0.0.1)\n"));
    EXPECT_EQ(rig.Run({"--ethernet", named, "--ethernet", named, "--json", "eject"}), 0);
    EXPECT_THAT(rig.out.str(), HasSubstr("{\"printer\":\"" + named + " (127.0.0.1)\""));
    EXPECT_EQ(rig.lookups, std::vector<std::string>(2, "printer.test"));
    // One name that is not found stops the run before anything is sent.
    EXPECT_EQ(rig.Run({"--ethernet", named, "--ethernet", "nowhere.test", "eject"}), 2);
    EXPECT_THAT(rig.err.str(), HasSubstr("cannot find the printer nowhere.test: no such host"));
    // An eject has no reply: the last frame may still be on its way in.
    const std::string expected = std::string(kVrs) + " REQ,EJT " + kVrs + " REQ,EJT";
    EXPECT_EQ(FramesOnceSettled(*rig.printer, expected), expected);
}

TEST(Cli, FleetGoesOnPastADeadPrinter) {
    CliRig first, second, third;
    CliRig dead;
    const std::string deadAddress = dead.Address();
    dead.server->Stop();
    const std::vector<std::string> addresses = {first.Address(), deadAddress, second.Address(),
                                                third.Address()};
    std::ofstream(first.folder / "fleet.txt") << "# the counters of every printer\n"
                                              << addresses[0] << "\n\n"
                                              << addresses[1] << "  # spare\n";
    const int code = first.Run({"--ethernet-file", "{dir}/fleet.txt", "--ethernet", addresses[2],
                                "--ethernet", addresses[3], "--jobs", "3", "--json", "counters"});
    EXPECT_EQ(code, 3);
    std::istringstream lines(first.out.str());
    std::map<std::string, std::string> byPrinter;
    for (std::string line; std::getline(lines, line);) {
        const std::smatch match = [&] {
            std::smatch m;
            std::regex_search(line, m, std::regex("^\\{\"printer\":\"([^\"]+)\""));
            return m;
        }();
        ASSERT_FALSE(match.empty()) << line;
        byPrinter[match[1]] = line;
    }
    ASSERT_EQ(byPrinter.size(), 4u);
    EXPECT_THAT(byPrinter[deadAddress], HasSubstr("\"exit_code\":3"));
    for (const std::string& live : {addresses[0], addresses[2], addresses[3]}) {
        EXPECT_THAT(byPrinter[live], HasSubstr("\"exit_code\":0"));
        EXPECT_THAT(byPrinter[live], HasSubstr("\"total_cards_printed\":904"));
    }
    EXPECT_THAT(first.err.str(),
                HasSubstr(deadAddress + ": Could not connect to the Printer.  Ensure cable"));
    for (CliRig* rig : {&first, &second, &third}) {
        EXPECT_EQ(Describe(rig->printer->Frames()), std::string(kVrs) + " " + kCounterFrames);
    }
}

TEST(Cli, UsageFileAndConnectionErrorsStopBeforeAnythingIsSent) {
    CliRig rig;
    EXPECT_EQ(rig.Run({"counters"}), 2);
    EXPECT_THAT(rig.err.str(), HasSubstr("name a printer"));
    EXPECT_EQ(rig.Run({"--ethernet", "300.1.1.1", "counters"}), 2);
    EXPECT_EQ(rig.Run({"--ethernet", "127.0.0.1:" + std::to_string(rig.server->Port()) + "OO",
                       "counters"}),
              2);
    EXPECT_EQ(rig.Run({"--ethernet", rig.Address(), "--no-such-option", "counters"}), 2);
    EXPECT_EQ(rig.Run({"--ethernet", rig.Address(), "--usb", "counters"}), 2);
    EXPECT_EQ(rig.Run({"--ethernet-file", "{dir}/missing.txt", "counters"}), 4);
    EXPECT_EQ(rig.Run({"--ethernet", rig.Address(), "--trace", "{dir}/no/dir/t.log", "counters"}),
              4);
    EXPECT_THAT(rig.err.str(), HasSubstr("cannot open the trace file"));
#ifndef _WIN32
    // Nothing that is not a regular file, and no wait for a FIFO's other end.
    ASSERT_EQ(mkfifo((rig.folder / "fifo").c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--ethernet-file", "{dir}/fifo", "counters"},
          {"--ethernet", rig.Address(), "--trace", "{dir}/fifo", "counters"},
          {"--ethernet", rig.Address(), "--trace", "/dev/full", "counters"}}) {
        EXPECT_EQ(rig.Run(args), 4) << args[1];
        EXPECT_THAT(rig.err.str(), HasSubstr("not a regular file"));
    }
#endif
    EXPECT_EQ(rig.printer->Frames().size(), 0u);

    // A printer that never answers the connection: each retry after the
    // 2000 ms pause, then "could not connect".
    CliRig dead;
    const std::string address = dead.Address();
    dead.server->Stop();
    EXPECT_EQ(dead.Run({"--ethernet", address, "--retries", "2", "identity"}), 3);
    EXPECT_EQ(dead.paused.load(), 2 * 2000);
    EXPECT_THAT(dead.err.str(), HasSubstr("switched on. Retry 2 of 2\n"));
    EXPECT_THAT(dead.err.str(), HasSubstr("cannot connect to " + address + ": refused"));

    // A USB serial that names no printer reaches none, not the first one
    // found.
    EXPECT_EQ(rig.Run({"--simulated-printer", "--usb", "NOPE", "counters"}), 3);
    EXPECT_THAT(rig.err.str(), HasSubstr("No USB printer with the serial NOPE:   SIM00001  "));
    EXPECT_EQ(rig.Run({"--simulated-printer", "--usb", "sim00001", "counters"}), 0);
    EXPECT_THAT(rig.out.str(), HasSubstr("Total Cards Printed: 904\n"));
    // Nor, of two, either one when none was named.
    EXPECT_EQ(rig.Run({"--simulated-printer", "--usb-printers", "2", "--usb", "counters"}), 3);
    EXPECT_THAT(rig.err.str(), HasSubstr("Several USB printers: name one with --usb SERIAL:"));
    EXPECT_THAT(rig.err.str(), HasSubstr("SIM00002"));
    EXPECT_EQ(
        rig.Run({"--simulated-printer", "--usb-printers", "2", "--usb", "SIM00002", "counters"}),
        0);

    EXPECT_EQ(rig.Run({"--help"}), 0);
    EXPECT_THAT(rig.out.str(), HasSubstr("3  could not connect to the printer"));
}

// A silent printer is tried again as an unreachable one is, one wait per
// attempt; one that stops answering half-way is not, since part of the
// command may have taken effect; and --timeout bounds the whole command.
TEST(Cli, ASilentPrinterEndsTheCommandAfterOneWait) {
    CliRig silent(Silent);
    EXPECT_EQ(silent.Run({"--ethernet", silent.Address(), "--retries", "1", "identity"}), 1);
    EXPECT_TRUE(std::regex_search(silent.err.str(),
                                  std::regex("^the printer did not answer VRS within [0-9.]+ s "
                                             "Retry 1 of 1\nthe printer did not answer VRS "
                                             "within [0-9.]+ s\n$")))
        << silent.err.str();
    EXPECT_EQ(silent.paused.load(), CMessageIF::kRetryPauseMs);
    EXPECT_EQ(FramesOnceSettled(*silent.printer, std::string(kVrs) + " " + kVrs),
              std::string(kVrs) + " " + kVrs);

    CliRig stopping([](SimPrinterState& s) { s.timing.offAfterFrames = 3; });
    EXPECT_EQ(
        stopping.Run({"--ethernet", stopping.Address(), "--retries", "1", "--json", "identity"}),
        1);
    EXPECT_THAT(
        stopping.out.str(),
        HasSubstr("\"level\": \"error\",\n      \"text\": \"the printer did not answer VRS"));
    EXPECT_THAT(stopping.err.str(), Not(HasSubstr("Retry")));
    EXPECT_EQ(stopping.paused.load(), 0);

    CliRig slow([](SimPrinterState& s) { s.timing.replyDelayMs = 400; });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(slow.Run({"--ethernet", slow.Address(), "--timeout", "1", "identity"}), 1);
    EXPECT_LT(MsSince(started), 2000 * TestTimeScale());
    EXPECT_THAT(slow.err.str(), HasSubstr("the command did not finish within 1 s (--timeout)"));
    EXPECT_LT(slow.printer->Frames().size(), 5u);

    // A raw print file needs no answer: a printer that cannot give one
    // still takes it.
    CliRig mute(Silent);
    EXPECT_EQ(mute.Run({"--ethernet", mute.Address(), "print", "{dir}/card.prn"}), 0)
        << mute.err.str();
    EXPECT_EQ(FramesOnceSettled(*mute.printer, std::string(kVrs) + " raw:PRINT\x1b*DATA"),
              std::string(kVrs) + " raw:PRINT\x1b*DATA");

    // A printer restarting after its upgrade drops the connection: the
    // version check reconnects instead of taking the restart for silence.
    CliRig restarting([](SimPrinterState& s) { s.faults.restartOnUpgrade = true; });
    EXPECT_EQ(
        restarting.Run({"--ethernet", restarting.Address(), "upgrade", "{dir}/new.cfe", "--yes"}),
        0)
        << restarting.err.str();
    EXPECT_THAT(restarting.out.str(), HasSubstr("Firmware version after: E3.05\n"));
    EXPECT_EQ(restarting.printer->Connections(), 2);
}

// Transfers that fell short, and files that are no plain files, end with
// the exit code that says so and the reason on standard error.
TEST(Cli, TransfersThatFallShortAreNotDone) {
    CliRig rig([](SimPrinterState& s) { s.faults.hangUpAfterBytes = 1000; });
    // More than the loopback socket buffers hold, so the hang-up reaches
    // the sender.
    std::ofstream(rig.folder / "big.prn", std::ios::binary) << std::string(16u << 20, 'P');
    std::vector<std::pair<std::vector<std::string>, int>> rows = {{{"print", "{dir}/big.prn"}, 1}};
#ifndef _WIN32
    rows.push_back({{"upgrade", "/dev/zero", "--yes"}, 4});
#endif
    for (const auto& [command, exitCode] : rows) {
        std::vector<std::string> args = {"--ethernet", rig.Address()};
        args.insert(args.end(), command.begin(), command.end());
        EXPECT_EQ(rig.Run(args), exitCode) << rig.err.str();
        EXPECT_THAT(rig.err.str(), HasSubstr(exitCode == 1 ? " of 16777216 bytes of the print file."
                                                           : ": not a regular file"));
    }
    // Hung up as the first request arrives: the command stops there, and
    // nothing claims the card.
    CliRig gone([](SimPrinterState& s) { s.faults.hangUpAfterBytes = 10; });
    EXPECT_EQ(gone.Run({"--ethernet", gone.Address(), "encode", "--track1", "AB"}), 1);
    EXPECT_THAT(gone.out.str(), Not(HasSubstr("Encoded")));
    EXPECT_THAT(gone.err.str(), HasSubstr("no answer to VRS"));

    // A printer that hangs up after half a reply: what is written to it
    // afterwards leaves this machine, but the printer never reads it. Small
    // enough for the socket to take at once, so only the printer's reset
    // tells.
    const std::vector<std::vector<std::string>> unread = {
        {"print", "{dir}/small.prn"}, {"eject"}, {"reset", "--yes"}, {"encode", "--track1", "AB"}};
    for (const std::vector<std::string>& command : unread) {
        CliRig hungUp([](SimPrinterState& s) { s.faults.hangUpMidReply = true; });
        std::ofstream(hungUp.folder / "small.prn", std::ios::binary) << std::string(4000, 'P');
        std::vector<std::string> args = {"--ethernet", hungUp.Address()};
        args.insert(args.end(), command.begin(), command.end());
        EXPECT_EQ(hungUp.Run(args), 1) << command.front() << ": " << hungUp.out.str();
        EXPECT_FALSE(hungUp.err.str().empty()) << command.front();
    }
    // Settings the printer did not report are not overwritten with nothing.
    CliRig garbled([](SimPrinterState& s) { s.faults.garbageReplies = true; });
    EXPECT_EQ(garbled.Run({"--ethernet", garbled.Address(), "identity", "--set", "FDC=45"}), 1);
    EXPECT_THAT(garbled.err.str(), HasSubstr("Nothing was saved"));
    EXPECT_THAT(Describe(garbled.printer->Frames()), Not(HasSubstr("MOD")));
}

// The trace's exact form for one request and its reply, and a trace of a
// real run that holds every byte as it went.
TEST(Cli, TraceRecordsEveryFrameAndReply) {
    const std::string frame = Framed("REQ,STA,VRS");
    EXPECT_EQ(CTraceFile::FormatRecord("2026-12-08 15:42:46.123", CTraceFile::Direction::Write, 2,
                                       "10.0.0.5", reinterpret_cast<const uint8_t*>(frame.data()),
                                       static_cast<int>(frame.size()), 24),
              "2026-12-08 15:42:46.123 write Ethernet 24 bytes [10.0.0.5]\n"
              "  0000  05 05 05 05 05 05 05 05 05 01 52 45 51 2c 53 54  ..........REQ,ST\n"
              "  0010  41 2c 56 52 53 2c 1c 03                          A,VRS,..\n");
    const std::string reply = "VRSE3.05,";
    EXPECT_EQ(CTraceFile::FormatRecord("2026-12-08 15:42:46.140", CTraceFile::Direction::Read, 0,
                                       "", reinterpret_cast<const uint8_t*>(reply.data()), 9, 9),
              "2026-12-08 15:42:46.140 read USB 9 bytes\n"
              "  0000  56 52 53 45 33 2e 30 35 2c                       VRSE3.05,\n");
    EXPECT_THAT(CTraceFile::FormatRecord("t", CTraceFile::Direction::Write, 1, "",
                                         reinterpret_cast<const uint8_t*>(reply.data()), 9, 0),
                ::testing::StartsWith("t write Parallel 9 bytes (the link took none)\n"));

    CliRig rig;
    std::ofstream(rig.folder / "t.log") << "an earlier run\n";
    ASSERT_EQ(rig.Run({"--trace", "{dir}/t.log", "--ethernet", rig.Address(), "counters"}), 0);
    std::ifstream file(rig.folder / "t.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], "an earlier run");
    const std::string label = " [" + rig.Address() + "]";
    EXPECT_THAT(lines[1], ::testing::EndsWith("connect Ethernet" + label + ": connected (" +
                                              rig.Address() + ")"));
    // std::regex: GoogleTest's own matcher takes only simple patterns on
    // Windows.
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} "
                                                      "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "
                                                      "write Ethernet 24 bytes.*")))
        << lines[2];
    EXPECT_THAT(lines[2], ::testing::EndsWith(label));
    EXPECT_THAT(lines[5], ::testing::EndsWith("read Ethernet 9 bytes" + label));
    EXPECT_EQ(lines[6], "  0000  56 52 53 45 33 2e 30 35 2c                       VRSE3.05,");
    // Five requests, five replies.
    int writes = 0, reads = 0;
    for (const std::string& line : lines) {
        writes += line.find(" write Ethernet ") != std::string::npos;
        reads += line.find(" read Ethernet ") != std::string::npos;
    }
    EXPECT_EQ(writes, 5);
    EXPECT_EQ(reads, 5);

#ifndef _WIN32
    // A trace that can no longer be written on (a full disk) is no record
    // of the run: it ends at once, exit 4, the reason named.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = fs::file_size(rig.folder / "t.log") + 40;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    rig.printer->ClearFrames();
    const int code = rig.Run({"--trace", "{dir}/t.log", "--ethernet", rig.Address(), "counters"});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
    EXPECT_EQ(code, 4);
    EXPECT_THAT(rig.err.str(), HasSubstr("the trace file cannot be written: File too large"));
    EXPECT_EQ(FramesOnceSettled(*rig.printer, kVrs), kVrs);
#endif
}

}  // namespace

// The command line's figures: a fleet of simulated printers read one at a
// time against eight at once, and the program's cold start beside a program
// that does nothing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "cli/cli.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"

extern char** environ;

namespace bench {
namespace {

constexpr int kFleetSize = 64;
constexpr int kQuickFleetSize = 16;
constexpr int kReplyDelayMs = 5;
constexpr int kStartRepeats = 21;

struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};

Spread SpreadOf(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return {};
    return {samples[samples.size() / 2], samples.front(), samples.back()};
}

std::string SpreadText(const char* what, const Spread& spread, const char* unit) {
    char text[160];
    std::snprintf(text, sizeof text, "%s median %.1f %s (%.1f to %.1f)", what, spread.median, unit,
                  spread.low, spread.high);
    return text;
}

// Seconds to read every printer's identity with `jobs` at work at once;
// `ok` turns false when a printer did not answer.
double TimeFleet(const std::vector<std::string>& addresses, int jobs, bool& ok) {
    std::vector<std::string> args = {"--jobs", std::to_string(jobs), "--json", "identity"};
    for (const std::string& address : addresses) {
        args.push_back("--ethernet");
        args.push_back(address);
    }
    std::ostringstream out;
    std::ostringstream err;
    const auto start = Clock::now();
    const int code = RunCli(args, out, err);
    const double seconds = SecondsSince(start);
    // A fleet ends with its one-line summary on stderr; anything else there
    // is a printer's complaint.
    const std::string summary = std::to_string(addresses.size()) +
                                " printers: " + std::to_string(addresses.size()) +
                                " ok, 0 failed\n";
    ok = ok && code == 0 && err.str() == summary;
    return seconds;
}

// Milliseconds from starting a program to its end; 0 when it failed.
double TimeRun(std::vector<std::string> argv) {
    std::vector<char*> pointers;
    for (std::string& word : argv) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const auto start = Clock::now();
    const int spawned =
        posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return 0;
    int status = 0;
    ::waitpid(child, &status, 0);
    const double ms = SecondsSince(start) * 1000;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : 0;
}

}  // namespace

void RunCommandLine(const Options& options, std::vector<Row>& rows) {
    const int size = options.quick ? kQuickFleetSize : kFleetSize;
    std::vector<std::unique_ptr<CSimTcpServer>> servers;
    std::vector<std::string> addresses;
    bool ok = true;
    for (int i = 0; i < size; ++i) {
        SimPrinterState state;
        state.timing.replyDelayMs = kReplyDelayMs;
        servers.push_back(std::make_unique<CSimTcpServer>(std::make_shared<CSimPrinter>(state)));
        ok = ok && servers.back()->Start(0);
        addresses.push_back("127.0.0.1:" + std::to_string(servers.back()->Port()));
    }
    // Interleaved, so a change in the machine's load falls on both alike.
    std::vector<double> one, eight;
    const int rounds = RatioPairs(options);
    MeasurePairs(
        rounds, [&] { return TimeFleet(addresses, 8, ok); },
        [&] { return TimeFleet(addresses, 1, ok); }, eight, one);
    const Spread serial = SpreadOf(one);
    const Spread parallel = SpreadOf(eight);
    Row fleet;
    fleet.name = "tessaly-cli identity, " + std::to_string(size) +
                 " simulated printers over TCP (5 ms reply delay), --jobs 8";
    fleet.unit = "s";
    fleet.FromPairs(eight, one, [](double s) { return s; });
    fleet.baselineName = "--jobs 1";
    fleet.goal = {Goal::RatioAtMost, 0.2};
    fleet.faulty = !ok;
    fleet.note =
        SpreadText("--jobs 8", {parallel.median * 1000, parallel.low * 1000, parallel.high * 1000},
                   "ms") +
        ", " +
        SpreadText("--jobs 1", {serial.median * 1000, serial.low * 1000, serial.high * 1000},
                   "ms") +
        ", " + std::to_string(rounds) + " interleaved rounds";
    rows.push_back(fleet);

    const std::string folder = options.executable.substr(0, options.executable.rfind('/') + 1);
    const std::string cli = (folder.empty() ? "./" : folder) + "tessaly-cli";
    std::vector<double> program, baseline;
    bool started = true;
    for (int round = 0; round < kStartRepeats; ++round) {
        const double a = TimeRun({cli, "--version"});
        const double b = TimeRun({"/bin/true"});
        started = started && a > 0 && b > 0;
        program.push_back(a);
        baseline.push_back(b);
    }
    const Spread cliStart = SpreadOf(program);
    const Spread trueStart = SpreadOf(baseline);
    Row start;
    start.name = "tessaly-cli cold start (--version)";
    start.unit = "ms";
    start.value = cliStart.median;
    start.baselineName = "/bin/true";
    start.baseline = trueStart.median;
    start.goal = {Goal::Below, 30};
    start.faulty = !started;
    start.note = SpreadText("tessaly-cli", cliStart, "ms") + ", " +
                 SpreadText("/bin/true", trueStart, "ms") + ", " + std::to_string(kStartRepeats) +
                 " interleaved runs";
    rows.push_back(start);
}

}  // namespace bench

// tessaly-cli started on a pseudo-terminal, as an operator runs it, and
// stopped with Ctrl+C half-way through a firmware transfer.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/cli.h"
#include "support/time_scale.h"

namespace {

namespace fs = std::filesystem;

constexpr int kColumns = 60;

struct PtyRun {
    std::string terminal;  // what the pseudo-terminal showed
    std::string stderrFile;
    int exitCode = -1;
};

// Upgrades the simulated printer on a parallel port (one write a byte, so
// the transfer takes seconds), presses Ctrl+C once the bar is drawn, and
// reads everything until the program ends.
PtyRun UpgradeAndInterrupt(const fs::path& folder, bool stderrToFile) {
    const fs::path image = folder / "big.cfe";
    std::ofstream(image, std::ios::binary) << std::string(4'000'000, '\x5a');
    const fs::path errors = folder / "stderr.txt";
    struct winsize size {};
    size.ws_col = kColumns;
    size.ws_row = 24;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        if (stderrToFile) std::freopen(errors.c_str(), "w", stderr);
        ::execl(TESSALY_CLI_PROGRAM, "tessaly-cli", "--simulated-printer", "--lpt", "1", "upgrade",
                image.c_str(), "--yes", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    PtyRun run;
    if (child < 0) return run;
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::seconds(30 * TestTimeScale());
    bool interrupted = false;
    while (std::chrono::steady_clock::now() < until) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t got = ::read(terminal, buffer, sizeof buffer);
            if (got <= 0) break;
            run.terminal.append(buffer, static_cast<size_t>(got));
        }
        // Once the transfer is under way: on the terminal its bar, in a
        // file the question answered before it.
        const bool started = stderrToFile ? fs::exists(errors) && fs::file_size(errors) > 0
                                          : run.terminal.find('%') != std::string::npos;
        if (!interrupted && started) {
            ::kill(child, SIGINT);
            interrupted = true;
        }
    }
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == 0) ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ::close(terminal);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errors, std::ios::binary);
    run.stderrFile.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

TEST(TerminalRun, CtrlCDuringUpgrade) {
    const fs::path folder =
        fs::temp_directory_path() / ("tessaly-pty-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    for (const bool stderrToFile : {false, true}) {
        SCOPED_TRACE(stderrToFile ? "standard error to a file" : "standard error on the terminal");
        const PtyRun run = UpgradeAndInterrupt(folder, stderrToFile);
        EXPECT_EQ(run.exitCode, cli_exit::kInterrupted);
        const std::string& said = stderrToFile ? run.stderrFile : run.terminal;
        EXPECT_NE(said.find("interrupted (Ctrl+C) during the firmware transfer"), std::string::npos)
            << said;
        ASSERT_FALSE(said.empty());
        EXPECT_EQ(said.back(), '\n');
        if (stderrToFile) {
            // A log holds lines, not a bar's redraws.
            EXPECT_EQ(run.stderrFile.find('\x1b'), std::string::npos);
            EXPECT_EQ(run.stderrFile.find('\r'), std::string::npos);
            continue;
        }
        EXPECT_NE(run.terminal.find("\r\x1b[K"), std::string::npos);
        // Every redraw fits the line: a wider one wraps, and the next
        // redraw starts on the line below.
        size_t at = 0;
        while ((at = run.terminal.find("\r\x1b[K", at)) != std::string::npos) {
            at += 4;
            const size_t end = run.terminal.find_first_of("\r\n", at);
            EXPECT_LT((end == std::string::npos ? run.terminal.size() : end) - at,
                      static_cast<size_t>(kColumns));
        }
    }
    fs::remove_all(folder);
}

}  // namespace

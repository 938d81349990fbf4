// tessaly-cli on a pseudo-terminal, as an operator runs it, stopped with
// Ctrl+C half-way through a firmware transfer.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>

#include "cli/cli.h"
#include "support/time_scale.h"

namespace {

namespace fs = std::filesystem;

TEST(TerminalRun, CtrlCDuringUpgrade) {
    constexpr unsigned short kColumns = 60;
    const fs::path folder =
        fs::temp_directory_path() / ("tessaly-pty-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    // On the parallel port one write a byte: the transfer takes seconds.
    const fs::path image = folder / "big.cfe", log = folder / "stderr.txt";
    std::ofstream(image, std::ios::binary) << std::string(4'000'000, 'Z');
    for (const bool toFile : {false, true}) {
        SCOPED_TRACE(toFile ? "standard error to a file" : "standard error on the terminal");
        struct winsize size {};
        size.ws_col = kColumns;
        int terminal = -1;
        const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
        if (child == 0) {
            if (toFile) std::freopen(log.c_str(), "w", stderr);
            ::execl(TESSALY_CLI_PROGRAM, "tessaly-cli", "--simulated-printer", "--lpt", "1",
                    "upgrade", image.c_str(), "--yes", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(child, 0);
        std::string shown;
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::seconds(30 * TestTimeScale());
        // Without a terminal no bar shows the transfer under way; it starts
        // right after the answered question and takes seconds, so a moment
        // after the question the press lands inside it.
        std::optional<std::chrono::steady_clock::time_point> asked;
        const auto settle = std::chrono::milliseconds(300 * TestTimeScale());
        for (bool pressed = false; std::chrono::steady_clock::now() < until;) {
            pollfd ready{terminal, POLLIN, 0};
            char buffer[4096];
            const ssize_t got =
                ::poll(&ready, 1, 20) > 0 ? ::read(terminal, buffer, sizeof buffer) : 0;
            if (got < 0) break;
            shown.append(buffer, static_cast<size_t>(got));
            // Under way: the question answered, on the terminal or in the file.
            if (toFile && !asked && fs::exists(log) && fs::file_size(log) > 0)
                asked = std::chrono::steady_clock::now();
            const bool underWay = toFile
                                      ? asked && std::chrono::steady_clock::now() > *asked + settle
                                      : shown.find('%') != std::string::npos;
            if (!pressed && underWay) pressed = ::kill(child, SIGINT) == 0;
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(terminal);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, cli_exit::kInterrupted);
        std::ifstream in(log, std::ios::binary);
        const std::string said =
            toFile ? std::string(std::istreambuf_iterator<char>(in), {}) : shown;
        EXPECT_NE(said.find("interrupted (Ctrl+C) during the firmware transfer"), std::string::npos)
            << said;
        EXPECT_EQ(said.empty() ? ' ' : said.back(), '\n');
        // A log holds lines, not a bar's redraws.
        EXPECT_EQ(said.find('\x1b') == std::string::npos, toFile);
        // Each redraw fits: a wider one wraps, and the next starts below it.
        for (size_t at = said.find("\x1b[K"); at != std::string::npos;
             at = said.find("\x1b[K", at)) {
            at += 3;
            EXPECT_LT(said.find_first_of("\r\n", at) - at, size_t{kColumns});
        }
    }
    fs::remove_all(folder);
}

}  // namespace

#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// tessaly-cli: every maintenance task of the window from a shell, for one
// printer or a fleet, on the same core with the same frames and pauses.

// The program's exit codes; a fleet ends with the highest of its printers'.
namespace cli_exit {
inline constexpr int kDone = 0;
inline constexpr int kRefused = 1;  // the printer refused, or a check failed
inline constexpr int kUsage = 2;
inline constexpr int kNoConnection = 3;
inline constexpr int kFileError = 4;      // a file could not be read or written
inline constexpr int kInterrupted = 130;  // Ctrl+C, as shells report SIGINT
}  // namespace cli_exit

// What the program takes from the process around it, so a test can run it
// in process without a terminal and without waiting.
struct CliEnvironment {
    bool stderrIsTerminal = false;
    // A blocking pause; empty: the thread sleeps.
    std::function<void(int milliseconds)> sleep;
    // How long an Ethernet link waits for a reply; 0: the link's own wait.
    int receiveWaitMs = 0;
    // A printer's host name as an IPv4 address, or why there is none;
    // empty: the system's resolver.
    std::function<std::optional<uint32_t>(const std::string& name, std::string& error)> resolve;
};

// Runs the program on `args` (without the program's name); the result is
// the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment = {});

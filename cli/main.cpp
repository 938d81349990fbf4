#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command_watch.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
    // The first Ctrl+C stops the command at its next step, so it can say
    // what state it leaves the printer in; a second one ends the program at
    // once, for a step that does not come back.
    OnInterrupt([] {
        static std::atomic<int> pressed{0};
        if (pressed++ == 0) {
            CCommandWatch::InterruptAll();
            return;
        }
        std::fputs("\ninterrupted again: stopped at once\n", stderr);
        std::fflush(stderr);
        std::_Exit(cli_exit::kInterrupted);
    });
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    CliEnvironment environment;
    environment.stderrIsTerminal = StandardErrorIsTerminal();
    return RunCli(args, std::cout, std::cerr, environment);
}

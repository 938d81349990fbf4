#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    CliEnvironment environment;
    environment.stderrIsTerminal = StandardErrorIsTerminal();
    return RunCli(args, std::cout, std::cerr, environment);
}

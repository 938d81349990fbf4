// doctor: why a printer cannot be reached.

#include <CLI/CLI.hpp>

#include "cli/commands/command.h"
#include "cli/doctor_command.h"

void AddDoctorCommand(CommandLine& line) {
    Command doctor{"doctor"};
    doctor.check = [](const CommonOptions& options,
                      const std::vector<Target>&) -> std::optional<std::string> {
        if (options.simulated) return "doctor checks the machine's own ports";
        return std::nullopt;
    };
    doctor.whole = [](const CommonOptions& options, const Surroundings& around) {
        return RunDoctorCommand({options.ethernet, options.usb, options.lpt, options.json},
                                around.plainOut);
    };
    AddCommand(line,
               "find why a printer cannot be reached, and say what to do; with no connection, "
               "every USB printer, the parallel port and each --ethernet",
               std::move(doctor));
}

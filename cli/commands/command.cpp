#include <CLI/CLI.hpp>
#include "cli/commands/command.h"

#include "cli/cli_text.h"

CLI::App* AddCommand(CommandLine& line, const char* what, Command command) {
    CLI::App* sub = line.app.add_subcommand(command.name, what);
    sub->callback([&chosen = line.chosen, command = std::move(command)] { chosen = command; });
    return sub;
}

// A new command family is one file and one line here.
void AddAllCommands(CommandLine& line) {
    AddPortsCommand(line);
    AddIdentityCommands(line);
    AddCounterCommands(line);
    AddUpgradeCommands(line);
    AddReportCommands(line);
    AddNetworkCommand(line);
    AddCardCommands(line);
    AddDoctorCommand(line);
}

Json OptionalJson(const std::optional<std::string>& value) {
    return value ? Json(Utf8(*value)) : Json(nullptr);
}

void AddField(Result& result, const char* label, const char* key,
              const std::optional<std::string>& value) {
    result.data[key] = OptionalJson(value);
    result.lines.push_back(std::string(label) + ":" +
                           (value && !value->empty() ? " " + Utf8(*value) : std::string()));
}

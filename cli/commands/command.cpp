#include "cli/commands/command.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/cli_text.h"
#include "seams/text_scan.h"

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

Json Envelope(const std::optional<std::string>& printer, const std::string& command, int exitCode,
              Json messages, Json data) {
    return Json{{"printer", printer ? Json(Utf8(*printer)) : Json(nullptr)},
                {"command", command},
                {"exit_code", exitCode},
                {"messages", std::move(messages)},
                {"data", std::move(data)}};
}

Json MessageJson(const char* level, const std::string& text) {
    return Json{{"level", level}, {"text", Utf8(text)}};
}

Json OptionalJson(const std::optional<std::string>& value) {
    return value && !value->empty() ? Json(Utf8(*value)) : Json(nullptr);
}

Json NumberJson(const std::optional<std::string>& text) {
    // Beyond 18 digits a number no longer fits every reader's integers.
    constexpr size_t kMostDigits = 18;
    if (!text || text->empty() || text->size() > kMostDigits) return nullptr;
    if (!std::all_of(text->begin(), text->end(), textscan::IsDigit)) return nullptr;
    return std::stoll(*text);
}

Json ProductIdJson(int64_t productId) { return productId == 0 ? Json(nullptr) : Json(productId); }

Json TrackJson(int track, bool selected, const char* result,
               const std::optional<std::string>& text) {
    return Json{{"track", track},
                {"selected", selected},
                {"result", result ? Json(result) : Json(nullptr)},
                {"text", OptionalJson(text)}};
}

void AddField(Result& result, const char* label, const char* key,
              const std::optional<std::string>& value) {
    result.data[key] = OptionalJson(value);
    result.lines.push_back(std::string(label) + ":" +
                           (value && !value->empty() ? " " + Utf8(*value) : std::string()));
}

void AddNumberField(Result& result, const char* label, const char* key,
                    const std::optional<std::string>& value) {
    AddField(result, label, key, value);
    result.data[key] = NumberJson(value);
}

// query and sensors: the printer's reports, line by line, and their files.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <set>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "protocol/message_if.h"
#include "seams/file_save.h"
#include "seams/text_scan.h"
#include "tasks/query_report.h"

namespace {

// Stands for each printer's address in a fleet's --save pattern.
constexpr const char* kAddressField = "{addr}";
constexpr size_t kAddressFieldSize = std::char_traits<char>::length(kAddressField);

struct ReportOptions {
    std::string save;
    bool saveIncomplete = false;
};

// The file a printer's report goes to: in a fleet the pattern names each
// printer's own by its address, in a form every file system takes.
std::string SavePath(const std::string& pattern, const std::string& label) {
    const size_t at = pattern.find(kAddressField);
    if (at == std::string::npos) return pattern;
    std::string address = label;
    for (char& c : address) {
        const bool kept = textscan::IsDigit(c) || (c >= 'A' && c <= 'Z') ||
                          (c >= 'a' && c <= 'z') || c == '.' || c == '-';
        if (!kept) c = '_';
    }
    return pattern.substr(0, at) + address +
           SavePath(pattern.substr(at + kAddressFieldSize), label);
}

std::optional<std::string> CheckSave(const ReportOptions& options,
                                     const std::vector<Target>& targets) {
    if (options.save.empty() || targets.size() <= 1) return std::nullopt;
    // Printers that run at once must not write one file between them.
    if (options.save.find(kAddressField) == std::string::npos) {
        return std::string("--save in a fleet takes a pattern with ") + kAddressField +
               ", not one file for every printer: " + options.save;
    }
    std::set<std::string> paths;
    for (const Target& target : targets) {
        if (!paths.insert(SavePath(options.save, target.label)).second) {
            return "two printers would save to " + SavePath(options.save, target.label);
        }
    }
    return std::nullopt;
}

// An incomplete report replaces an earlier, perhaps whole, one only when
// asked to.
void SaveReport(const ReportOptions& options, const query_report::RunResult& report,
                const Target& target, CCliHost& host, Result& result) {
    const std::string path = SavePath(options.save, target.label);
    if (!report.Complete() && !options.saveIncomplete) {
        host.Message(
            "The incomplete report was not saved to\n" + path + "\n(--save-incomplete saves it)",
            MsgButtons::Ok);
        return;
    }
    if (const std::optional<std::string> reason =
            filesave::SaveReplacing(path, query_report::SavedText(report.lines))) {
        host.Message("The report could not be saved to\n" + path + "\n\n" + *reason,
                     MsgButtons::Ok);
        result.code = std::max(result.code, cli_exit::kFileError);
        return;
    }
    result.data["saved"] = Utf8(path);
}

Result RunReport(const ReportOptions& options, Session& session, bool sensors) {
    Result result;
    result.data["saved"] = nullptr;
    const query_report::RunResult report = query_report::Run(
        session.msg, sensors ? query_report::kSensorTitle : query_report::kQueryTitle,
        sensors ? cmd::SNR : cmd::QPR, query_report::LocalTimeNow());
    Json list = Json::array();
    for (const std::string& line : report.lines) {
        // A line break inside a report line would split it on screen and in
        // a reader of the JSON; the saved file keeps the printer's bytes.
        std::string shown = Utf8(line);
        std::erase_if(shown, [](char c) { return c == '\r' || c == '\n'; });
        list.push_back(shown);
        result.lines.push_back(shown);
    }
    result.data["lines"] = list;
    result.data["complete"] = report.Complete();
    result.data["stopped_at_item"] = report.Complete() ? Json() : Json(report.stoppedAt);
    result.data["unanswered_items"] = report.unanswered;
    if (const std::optional<std::string> why = query_report::IncompleteText(report)) {
        session.host.Message(*why, MsgButtons::Ok);
        result.code = cli_exit::kRefused;
    }
    if (!options.save.empty()) SaveReport(options, report, session.target, session.host, result);
    return result;
}

}  // namespace

void AddReportCommands(CommandLine& line) {
    for (const auto& [name, what, sensors] :
         {std::tuple{"query", "the query report", false},
          std::tuple{"sensors", "the sensor test report", true}}) {
        auto options = std::make_shared<ReportOptions>();
        Command command{name};
        command.reportGoesOn = true;
        command.check = [options](const CommonOptions&, const std::vector<Target>& targets) {
            return CheckSave(*options, targets);
        };
        command.run = [options, sensors = sensors](Session& session) {
            return RunReport(*options, session, sensors);
        };
        CLI::App* report = AddCommand(line, what, std::move(command));
        CLI::Option* save =
            report
                ->add_option("--save", options->save,
                             "also save it, each line ending in CR LF; in a fleet FILE must hold "
                             "{addr}, which becomes each printer's address")
                ->type_name("FILE");
        report
            ->add_flag("--save-incomplete", options->saveIncomplete,
                       "save a report the printer stopped answering in (else FILE is left as "
                       "it was)")
            ->needs(save);
    }
}

// counters, send and print: the Statistics / Commands tasks.

#include "tasks/counters.h"

#include <CLI/CLI.hpp>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "protocol/message_if.h"

namespace {

struct SendOptions {
    std::string text;
};

struct PrintOptions {
    std::string file;
};

std::optional<std::string> CheckSend(const SendOptions& options) {
    if (options.text.empty()) return "send: the command is empty";
    const std::optional<std::string> text = Latin1(options.text);
    if (!text) return "the command holds characters beyond Latin-1";
    // The printer's command field holds no more; a command cut to fit would
    // be another command.
    if (text->size() > counters::kCommandLimit) {
        return "send: the command holds " + std::to_string(text->size()) +
               " characters; the printer's command field takes at most " +
               std::to_string(counters::kCommandLimit);
    }
    return std::nullopt;
}

Result RunSend(const SendOptions& options, Session& session) {
    Result result;
    const std::string text = Latin1Upper(*Latin1(options.text));
    const bool sent = counters::SendQuickCommand(session.msg, session.host, text);
    result.data["sent"] = sent ? Json(Utf8(text)) : Json(nullptr);
    result.lines.push_back(sent ? "Sent: " + Utf8(text) : "Not sent");
    // A command that prints or cleans shows its effect on the counters.
    ShowCounters(result, session.msg, session.host);
    if (!sent) result.code = cli_exit::kRefused;
    return result;
}

Result RunPrint(const PrintOptions& options, Session& session) {
    Result result;
    const counters::PrintReport sent =
        counters::SendPrintFile(session.msg, session.host, options.file, options.file);
    result.data["printed"] = sent.result == counters::PrintResult::Sent;
    result.data["bytes_sent"] = sent.sent;
    result.data["bytes"] = sent.length;
    switch (sent.result) {
        case counters::PrintResult::Sent:
            result.lines.push_back("Sent " + options.file);
            break;
        case counters::PrintResult::OpenFailed:
            session.host.Message("Cannot read " + options.file + ": " + sent.reason,
                                 MsgButtons::Ok);
            result.code = cli_exit::kFileError;
            break;
        case counters::PrintResult::ReadFailed:
            result.code = cli_exit::kFileError;
            break;
        case counters::PrintResult::TooLarge:
        case counters::PrintResult::Cut:
            result.code = cli_exit::kRefused;
            break;
    }
    return result;
}

}  // namespace

void ShowCounters(Result& result, CMessageIF& msg, CCliHost& host) {
    const auto values = counters::Read(msg);
    bool any = false;
    for (size_t i = 0; i < values.size(); ++i) {
        AddNumberField(result, counters::kCounters[i].label, counters::kCounters[i].key, values[i]);
        any = any || values[i].has_value();
    }
    if (!any) {
        host.Message("The printer reported none of the counters.", MsgButtons::Ok);
        result.code = cli_exit::kRefused;
    }
}

void AddCounterCommands(CommandLine& line) {
    Command countersCommand{"counters"};
    countersCommand.run = [](Session& session) {
        Result result;
        ShowCounters(result, session.msg, session.host);
        return result;
    };
    AddCommand(line, "read the four usage counters", std::move(countersCommand));

    auto send = std::make_shared<SendOptions>();
    Command sendCommand{"send"};
    sendCommand.check = [send](const CommonOptions&, const std::vector<Target>&) {
        return CheckSend(*send);
    };
    sendCommand.run = [send](Session& session) { return RunSend(*send, session); };
    AddCommand(line,
               "send a typed command, as the Quick Commands field does; sent as typed, "
               "control characters included",
               std::move(sendCommand))
        ->add_option("TEXT", send->text, "the command, at most 63 characters, e.g. TST")
        ->required();

    auto print = std::make_shared<PrintOptions>();
    Command printCommand{"print"};
    printCommand.run = [print](Session& session) { return RunPrint(*print, session); };
    printCommand.needsNoReply = true;
    AddCommand(line, "send a print file unchanged, every byte as it is", std::move(printCommand))
        ->add_option("FILE", print->file, "the print file (.prn)")
        ->required();
}

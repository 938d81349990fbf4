#include "tasks/counters.h"

#include <memory>

#include "protocol/message_if.h"
#include "protocol/source_file.h"
#include "seams/host_services.h"
#include "seams/wait_cursor.h"

namespace counters {
namespace {

// The printer acts on a typed command before its counters are asked again.
constexpr int kCommandPauseMs = 1000;
constexpr const char* kOpenErrorHead = "Error opening file:   \n''";
constexpr const char* kOpenErrorTail = "''   ";
constexpr const char* kReadErrorHead =
    "The print file could not be read whole; nothing was sent:\n''";
constexpr const char* kTooLargeText =
    "The print file is too large: a print file goes to the printer in one piece of less "
    "than 2 GiB. Nothing was sent.";

}  // namespace

const std::array<Counter, kCount> kCounters = {{
    {cmd::TCQ, "Total Cards Printed", "total_cards_printed"},
    {cmd::TCP, "Total No. of Cards on Printhead", "cards_on_printhead"},
    {cmd::TCN, "Total Cleaning Cycles", "cleaning_cycles"},
    {cmd::CCQ, "Cards Printed Since Last Clean", "cards_since_clean"},
}};

std::array<std::optional<std::string>, kCount> Read(CMessageIF& msg) {
    std::array<std::optional<std::string>, kCount> values;
    for (size_t i = 0; i < kCounters.size(); ++i)
        values[i] = msg.RequestStatus(kCounters[i].command);
    return values;
}

bool SendQuickCommand(CMessageIF& msg, IHostServices& host, const std::string& text) {
    const std::string command = text.substr(0, kCommandLimit);
    if (command.empty()) {
        host.Message(kNoCommandWarning, MsgButtons::Ok);
        return false;
    }
    WaitCursor busy(host);
    // Sent as typed, to any printer: the operator may add parameters and may
    // name commands this program does not know.
    const bool sent = msg.SendCommandText(command);
    // The counters are read again after this pause, whether or not the
    // command went out.
    host.Pause(kCommandPauseMs);
    return sent;
}

PrintReport SendPrintFile(CMessageIF& msg, IHostServices& host, const std::string& path,
                          const std::string& shownPath) {
    PrintReport report;
    const std::unique_ptr<CDiskFile> file = CDiskFile::Open(path, &report.reason);
    if (!file) {
        host.Message(kOpenErrorHead + shownPath + kOpenErrorTail, MsgButtons::Ok);
        return report;
    }
    CMessageIF::FileSendResult sent;
    {
        // A large file on a slow link takes a while; the program is not hung.
        WaitCursor busy(host);
        sent = msg.SendFile(*file);
    }
    file->Close();
    report.sent = sent.sent;
    report.length = sent.length;
    switch (sent.outcome) {
        case CMessageIF::FileSend::Sent:
            report.result = PrintResult::Sent;
            break;
        case CMessageIF::FileSend::TooLarge:
            report.result = PrintResult::TooLarge;
            host.Message(kTooLargeText, MsgButtons::Ok);
            break;
        case CMessageIF::FileSend::NoMemory:  // the operator was told
            report.result = PrintResult::ReadFailed;
            break;
        case CMessageIF::FileSend::ReadFailed:
            report.result = PrintResult::ReadFailed;
            report.reason = file->ErrorText();
            host.Message(kReadErrorHead + shownPath + kOpenErrorTail +
                             (report.reason.empty() ? "" : "\n" + report.reason),
                         MsgButtons::Ok);
            break;
        case CMessageIF::FileSend::Cut:
            report.result = PrintResult::Cut;
            host.Message(sent.sent == sent.length
                             ? "The printer closed the connection before it had taken the whole "
                               "print file."
                             : "The printer took " + std::to_string(sent.sent) + " of " +
                                   std::to_string(sent.length) + " bytes of the print file.",
                         MsgButtons::Ok);
            break;
    }
    return report;
}

}  // namespace counters

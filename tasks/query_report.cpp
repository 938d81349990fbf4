#include "tasks/query_report.h"

#include <cstdio>
#include <ctime>
#include <string_view>

#include "links/character_interface.h"
#include "protocol/message_if.h"
#include "seams/text_scan.h"

namespace query_report {

namespace {

using textscan::TrimEnd;
using textscan::TrimStart;

}  // namespace

std::string ConnectionLine(int linkKind) {
    switch (linkKind) {
        case kLinkUsb:
            return "Connected  Via  USB";
        case kLinkEthernet:
            return "Connected  Via  Ethernet";
        default:
            return "Connected  Via  Parallel Port";
    }
}

std::string StartTimeLine(const std::tm& started) {
    char text[64];
    std::snprintf(text, sizeof text, "%d:%02d %d-%d-%d", started.tm_hour, started.tm_min,
                  started.tm_mday, started.tm_mon + 1, started.tm_year + 1900);
    return text;
}

std::vector<std::string> HeadLines(const std::string& title, int linkKind, const std::tm& started) {
    return {title, "", ConnectionLine(linkKind), "", StartTimeLine(started), ""};
}

std::vector<std::string> SplitReply(const std::string& reply) {
    std::vector<std::string> pieces;
    // Trimmed at the end, the text always finishes on a non-blank, so every
    // piece after a line feed is non-empty once its indentation is gone.
    std::string_view rest = TrimEnd(TrimStart(reply));
    while (!rest.empty()) {
        const size_t lineFeed = rest.find('\n');
        if (lineFeed == std::string_view::npos) {
            pieces.emplace_back(rest);
            break;
        }
        pieces.emplace_back(rest.substr(0, lineFeed));
        rest = TrimStart(rest.substr(lineFeed + 1));
    }
    if (pieces.size() <= 1) return {reply};
    return pieces;
}

RunResult Run(CMessageIF& msg, const char* title, int command, const std::tm& started,
              const std::function<void(const std::string&)>& onLine) {
    const int linkKind = msg.CurrentLinkKind().value_or(kLinkParallel);
    RunResult result;
    const auto add = [&](std::string line) {
        if (onLine) onLine(line);
        result.lines.push_back(std::move(line));
    };
    for (std::string& line : HeadLines(title, linkKind, started)) add(std::move(line));
    // An item that got nothing (a request the family gate or the link held
    // back, a silent or closed printer, a reply that is no text) stands as an
    // empty line once a later item is answered. The last items before the
    // run gave up were never followed by an answer: they show nothing.
    std::vector<int> pending;
    for (int item = kFirstItem;; ++item) {
        // A printer that never says "END" would otherwise be asked forever;
        // the next item number would wrap.
        if (item > kLastItem) {
            result.end = RunEnd::ItemLimit;
            result.stoppedAt = kLastItem;
            break;
        }
        const std::string reply = msg.RequestNumbered(command, static_cast<int8_t>(item));
        if (reply.empty()) {
            pending.push_back(item);
            if (static_cast<int>(pending.size()) < kUnansweredInARow) continue;
            result.end = RunEnd::Unanswered;
            result.stoppedAt = pending.front();
            break;
        }
        for (const int gap : pending) {
            result.unanswered.push_back(gap);
            add(std::string());
        }
        pending.clear();
        if (reply == kEndReply) {
            result.end = RunEnd::Complete;
            break;
        }
        if (reply == kSkipReply) continue;
        for (std::string& line : SplitReply(reply)) add(std::move(line));
    }
    return result;
}

std::optional<std::string> IncompleteText(const RunResult& result) {
    switch (result.end) {
        case RunEnd::Complete:
            break;
        case RunEnd::Unanswered:
            return "The printer stopped answering at item " + std::to_string(result.stoppedAt) +
                   ": the report is incomplete.";
        case RunEnd::ItemLimit:
            return "The printer sent no end of the report by item " +
                   std::to_string(result.stoppedAt) + ": the report is incomplete.";
    }
    return std::nullopt;
}

std::string SavedText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

}  // namespace query_report

#include "tasks/query_report.h"

#include <cstdio>
#include <string_view>

#include "links/character_interface.h"
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

}  // namespace query_report

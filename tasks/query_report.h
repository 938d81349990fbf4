#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CMessageIF;

// The query and sensor report: its run on the printer, and its text rules
// apart from any widget so they can be checked line by line.
namespace query_report {

inline constexpr const char* kQueryTitle = "QUERY PRINTER RESULTS";
inline constexpr const char* kSensorTitle = "SENSOR TEST RESULTS";
// Whole-reply markers from the printer: the item list is over / this item
// has nothing to show.
inline constexpr const char* kEndReply = "END";
inline constexpr const char* kSkipReply = "@@@";
// Item numbers travel as a signed byte: 127 is the last one a request can
// name before the number wraps to -128.
inline constexpr int kFirstItem = 1;
inline constexpr int kLastItem = 127;

// The six lines above the items: title, connection, start time, each
// followed by an empty line.
std::vector<std::string> HeadLines(const std::string& title, int linkKind, const std::tm& started);

// "Connected  Via  ..." for a link kind.
std::string ConnectionLine(int linkKind);

// Hour, minute, day, month, year as "%d:%02d %d-%d-%d".
std::string StartTimeLine(const std::tm& started);

// The list lines one item reply adds. A reply of several lines is cut at its
// line feeds, dropping blank lines and the indentation of continuation lines
// (a carriage return before a line feed stays with its line); a reply of one
// line is added as it came, surrounding white space and all.
std::vector<std::string> SplitReply(const std::string& reply);

// A run ends after this many items in a row for which nothing came back: a
// printer that was slow once costs one empty line, one that has stopped
// answering costs no more than these waits.
inline constexpr int kUnansweredInARow = 3;

enum class RunEnd {
    Complete,    // the printer said "END"
    Unanswered,  // kUnansweredInARow items in a row got nothing
    ItemLimit,   // the item number ran out before "END"
};

struct RunResult {
    std::vector<std::string> lines;
    RunEnd end = RunEnd::Complete;
    // Where an incomplete run stopped: the first of the unanswered items, or
    // the last item number; 0 for a complete one.
    int stoppedAt = 0;
    // Items that got nothing and stand in the report as empty lines.
    std::vector<int> unanswered;
    bool Complete() const { return end == RunEnd::Complete; }
};

// Runs a query or sensor report: the head lines, then every item until
// "END". An item nothing came back for adds an empty line and the run goes
// on, up to kUnansweredInARow such items in a row or the item number's last
// value. `onLine` sees each line as it comes, so a window can show the list
// grow.
RunResult Run(CMessageIF& msg, const char* title, int command, const std::tm& started,
              const std::function<void(const std::string&)>& onLine = {});
// What the operator is told about an incomplete report; no value for a
// complete one.
std::optional<std::string> IncompleteText(const RunResult& result);
// The saved file: every line followed by CR LF.
std::string SavedText(const std::vector<std::string>& lines);
std::tm LocalTimeNow();

}  // namespace query_report

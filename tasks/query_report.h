#pragma once

#include <ctime>
#include <string>
#include <vector>

// The text rules of the query and sensor report, apart from any widget so
// they can be checked line by line.
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

}  // namespace query_report

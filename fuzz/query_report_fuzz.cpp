// Query and sensor item replies, any bytes: how one reply becomes report
// lines. A reply of several lines is cut at its line feeds into non-empty
// lines without indentation; a reply of one line stays as it came.
//
// Input: link kind byte, five bytes of time fields, then the reply.

#include <ctime>

#include "fuzz/fuzz_support.h"
#include "tasks/query_report.h"

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int linkKind = static_cast<int8_t>(in.Byte());
    std::tm started{};
    started.tm_hour = static_cast<int8_t>(in.Byte());
    started.tm_min = static_cast<int8_t>(in.Byte());
    started.tm_mday = static_cast<int8_t>(in.Byte());
    started.tm_mon = static_cast<int8_t>(in.Byte());
    started.tm_year = static_cast<int16_t>(in.Word());
    const std::string reply = in.Rest();

    const std::vector<std::string> lines = query_report::SplitReply(reply);
    FUZZ_CHECK(!lines.empty());
    if (lines.size() == 1) {
        FUZZ_CHECK(lines[0] == reply);
    } else {
        size_t from = 0;
        for (const std::string& line : lines) {
            FUZZ_CHECK(!line.empty());
            FUZZ_CHECK(line.find('\n') == std::string::npos);
            FUZZ_CHECK(!IsWhiteSpace(line.front()));
            // The lines are the reply's own text, in order.
            const size_t at = reply.find(line, from);
            FUZZ_CHECK(at != std::string::npos);
            from = at + line.size();
        }
    }

    const std::vector<std::string> head =
        query_report::HeadLines(query_report::kQueryTitle, linkKind, started);
    FUZZ_CHECK(head.size() == 6);
    FUZZ_CHECK(head[0] == query_report::kQueryTitle);
    return 0;
}

// The trace a support request carries: what each link event leaves in the
// file, on disk before the run ends.

#include "links/trace_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/scripted_link.h"

namespace {

namespace fs = std::filesystem;

// Each record's first line without its time.
std::vector<std::string> Headings(const std::string& trace) {
    std::vector<std::string> headings;
    size_t at = 0;
    while (at < trace.size()) {
        const size_t end = trace.find('\n', at);
        const std::string line = trace.substr(at, end - at);
        // A heading starts with its time; hex lines with blanks.
        if (!line.empty() && line[0] != ' ') headings.push_back(line.substr(line.find(' ', 11) + 1));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return headings;
}

TEST(TraceLink, RecordsEachEventOnDiskAsItHappens) {
    const std::string frame = "REQ,STA,VRS";
    const auto write = [](std::string bytes) {
        return [bytes](CCharacterInterface& link) {
            link.Write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
        };
    };
    const auto read = [](CCharacterInterface& link) {
        uint8_t buffer[64];
        link.Read(buffer, sizeof buffer, 0);
    };
    const auto open = [](CCharacterInterface& link) { link.Open(); };
    struct Row {
        std::string what;
        std::function<void(ScriptedLink&)> setUp;
        std::vector<std::function<void(CCharacterInterface&)>> steps;
        std::vector<std::string> headings;
    };
    const std::vector<Row> rows = {
        {"a write the link refused",
         [](ScriptedLink& link) { link.writeResults = {0}; },
         {write(frame)},
         {"write Parallel 11 bytes [P] (the link took none)"}},
        {"a run of one-byte writes, then the reply",
         [](ScriptedLink& link) { link.QueueReply("OK"); },
         {write("A"), write("B"), write("C"), read},
         {"write Parallel 3 bytes [P] (3 one-byte writes)", "read Parallel 2 bytes [P]"}},
        {"a failed connect, then a reconnect",
         [](ScriptedLink& link) { link.openResults = {0, 1}; },
         {open, open},
         {"connect Parallel [P]: failed", "reconnect Parallel [P]: connected"}},
        {"a request left without a reply",
         [](ScriptedLink& link) { link.QueueNothing(0); },
         {write(frame), read, read},
         {"write Parallel 11 bytes [P]", "time-out Parallel [P]: no reply within 0 s"}},
        {"a printer that hung up",
         [](ScriptedLink& link) { link.failed = true; },
         {write(frame), read},
         {"write Parallel 11 bytes [P]",
          "hang-up Parallel [P]: the link failed or the printer closed the connection"}},
    };
    const fs::path path = fs::temp_directory_path() / "tessaly-trace-link-test.txt";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove(path);
        std::string error;
        std::shared_ptr<CTraceFile> trace = CTraceFile::Open(path.string(), error);
        ASSERT_TRUE(trace) << error;
        auto inner = std::make_unique<ScriptedLink>();
        row.setUp(*inner);
        CTraceLink link(std::move(inner), trace, kLinkParallel, "P");
        for (const auto& step : row.steps) step(link);
        // Read while the trace is still open: a run stopped by Ctrl+C or
        // a crash leaves only what is on disk.
        std::ifstream file(path, std::ios::binary);
        EXPECT_EQ(Headings(std::string(std::istreambuf_iterator<char>(file), {})), row.headings);
    }
    fs::remove(path);
}

}  // namespace

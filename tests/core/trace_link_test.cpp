// The trace a support request carries: what each link event leaves in the
// file, on disk before the run ends.

#include "links/trace_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/scripted_link.h"

namespace {

namespace fs = std::filesystem;

// Each record's first line without its time (hex lines start with blanks).
std::vector<std::string> Headings(const std::filesystem::path& path) {
    std::vector<std::string> headings;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line[0] != ' ') headings.push_back(line.substr(24));
    }
    return headings;
}

TEST(TraceLink, RecordsEachEventOnDiskAsItHappens) {
    const std::string frame = "REQ,STA,VRS";
    const auto write = [](std::string bytes) {
        return [bytes](CCharacterInterface& link) {
            link.Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                       static_cast<int>(bytes.size()));
        };
    };
    uint8_t buffer[64];
    const auto read = [&buffer](CCharacterInterface& link) { link.Read(buffer, 64, 0); };
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
         [](ScriptedLink& link) {
             link.openResults = {0, 1};
         },
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
        EXPECT_EQ(Headings(path), row.headings);
    }
    fs::remove(path);
}

}  // namespace

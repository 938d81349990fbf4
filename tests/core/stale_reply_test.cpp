#include "links/stale_reply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kEndless = 1 << 30;

// Each row: what the reads give in turn (a read past the list gives its last
// entry again), the bounds, and how the drop must end.
TEST(StaleReply, DropEndsWhenNothingWaitsTheLinkFailsOrABoundIsReached) {
    struct Row {
        const char* what;
        std::vector<int> reads;
        int maxBytes, maxMs;
        int bytes, calls;
        bool failed;
    };
    const Row rows[] = {
        {"nothing waiting", {0}, kEndless, 1000, 0, 1, false},
        {"pieces, then nothing", {4096, 100, 0}, kEndless, 1000, 4196, 3, false},
        {"the link fails after a piece", {30, -1}, kEndless, 1000, 30, 2, true},
        {"a printer that never stops: bytes", {4096}, 10000, 1000, 12288, 3, false},
        {"a printer that never stops: time", {4096}, kEndless, 0, 4096, 1, false},
    };
    for (const Row& row : rows) {
        int calls = 0;
        const stale_reply::Dropped dropped = stale_reply::Drop(
            [&](uint8_t*, int capacity) {
                const size_t at =
                    std::min<size_t>(static_cast<size_t>(calls), row.reads.size() - 1);
                ++calls;
                return std::min(row.reads[at], capacity);
            },
            row.maxBytes, row.maxMs);
        EXPECT_EQ(dropped.bytes, row.bytes) << row.what;
        EXPECT_EQ(dropped.linkFailed, row.failed) << row.what;
        EXPECT_EQ(calls, row.calls) << row.what;
    }
}

}  // namespace

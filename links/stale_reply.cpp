#include "links/stale_reply.h"

#include <chrono>

namespace stale_reply {

Dropped Drop(const ReadNow& readNow, int maxBytes, int maxMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
    uint8_t scratch[4096];
    Dropped dropped;
    while (dropped.bytes < maxBytes) {
        const int result = readNow(scratch, static_cast<int>(sizeof scratch));
        if (result < 0) dropped.linkFailed = true;
        if (result <= 0) break;
        dropped.bytes += result;
        if (Clock::now() >= deadline) break;
    }
    return dropped;
}

}  // namespace stale_reply

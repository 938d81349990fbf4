#pragma once

#include <cstdint>
#include <functional>

// What a printer still sends after the part of a reply that was read (a
// reply longer than the reply area, one that came late or in pieces) is not
// the answer to the next request: the links drop it before that request
// goes out.
namespace stale_reply {

// A printer that never stops talking must not hold the request back for
// ever: the drop ends after this many bytes or this long, whichever comes
// first.
inline constexpr int kMaxBytes = 1 << 20;
inline constexpr int kMaxMs = 500;

// Reads what has already arrived, without waiting for more: the bytes read,
// 0 when nothing is waiting, below 0 when the link failed.
using ReadNow = std::function<int(uint8_t* buffer, int capacity)>;

struct Dropped {
    int bytes = 0;
    bool linkFailed = false;
};

Dropped Drop(const ReadNow& readNow, int maxBytes = kMaxBytes, int maxMs = kMaxMs);

}  // namespace stale_reply

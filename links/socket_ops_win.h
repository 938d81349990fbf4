#pragma once

#include <cstdint>

namespace net {

// What SO_RCVTIMEO and SO_SNDTIMEO take on Windows: a DWORD of
// milliseconds, where 0 would mean "wait for ever".
uint32_t WinsockTimeoutMs(int timeoutMs);

}  // namespace net

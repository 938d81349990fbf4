#pragma once

#include <chrono>
#include <cstdlib>

// Tests that bound wall-clock time multiply their time-outs and bounds by
// TESSALY_TEST_TIME_SCALE (default 1), so the same tests run under valgrind,
// which slows everything down tens of times.
inline int TestTimeScale() {
    static const int scale = [] {
        const char* text = std::getenv("TESSALY_TEST_TIME_SCALE");
        const int value = text ? std::atoi(text) : 1;
        return value >= 1 ? value : 1;
    }();
    return scale;
}

// Milliseconds of wall-clock time since `start`, for such bounds.
inline long long MsSince(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

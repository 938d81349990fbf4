#pragma once

#include <algorithm>
#include <chrono>

#include "seams/host_services.h"

// No wait blocks the user-interface thread longer than this at a stretch:
// the desktop takes a window that has not answered for about 5 s for
// dead, and a window that paints 50 times a second looks alive.
inline constexpr int kIdleSliceMs = 20;

// Paces the host's idle calls through a loop that waits in slices or works
// in steps. A loop calls Tick after each slice or step; the host gets an
// idle call once half a slice has passed since the last one, so quick steps
// (replies that come in a few milliseconds, chunks that go out at once) cost
// a clock read rather than an idle call each, while no stretch between two
// idle calls exceeds one slice and a half. Without a host (tests, the
// simulator, a front end without a window) Tick does nothing.
//
// Tick also tells whether the wait may go on: once the operator has asked
// to cancel the running operation (see IHostServices::CancelRequested), it
// answers false at every call, and the wait ends as if its time had run
// out.
class CIdlePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit CIdlePacer(IHostServices* host = nullptr) : m_host(host) {}

    // Not owned: the host outlives whatever paces through it.
    void SetHost(IHostServices* host) { m_host = host; }
    bool HasHost() const { return m_host != nullptr; }

    bool Tick() { return !m_host || Tick(Clock::now()); }
    // For loops that have just read the clock anyway.
    bool Tick(Clock::time_point now) {
        if (!m_host) return true;
        if (now - m_last >= std::chrono::milliseconds(kIdleSliceMs / 2)) {
            m_host->Idle();
            m_last = Clock::now();
        }
        return !m_host->CancelRequested();
    }
    // The operator asked to cancel the running operation.
    bool Cancelled() const { return m_host && m_host->CancelRequested(); }

    // How long the next slice of a wait with `leftMs` to go may block.
    static int SliceMs(long long leftMs) {
        return static_cast<int>(std::clamp<long long>(leftMs, 0, kIdleSliceMs));
    }

private:
    IHostServices* m_host;
    Clock::time_point m_last = Clock::now();
};

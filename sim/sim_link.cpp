#include "sim/sim_link.h"

#include <algorithm>
#include <thread>
#include <utility>

using Clock = CSimPrinter::Clock;

CSimLink::CSimLink(std::shared_ptr<CSimPrinter> printer) : CSimLink(std::move(printer), Waits{}) {}

CSimLink::CSimLink(std::shared_ptr<CSimPrinter> printer, Waits waits)
    : m_printer(std::move(printer)), m_waits(waits) {}

int CSimLink::Open() {
    ++m_opens;
    m_open = false;
    if (!m_printer || m_printer->IsAbsent()) return 0;
    m_printer->StartConnection();
    m_open = true;
    return 1;
}

void CSimLink::Close() {
    ++m_closes;
    m_open = false;
}

bool CSimLink::HasFailed() const { return m_open && m_printer->ConnectionClosed(); }

int CSimLink::Read(uint8_t* buffer, int capacity, int /*paced*/) {
    if (!m_open || buffer == nullptr || capacity <= 0) return -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_waits.receiveMs);
    for (;;) {
        const size_t count = m_printer->TakeReply(buffer, static_cast<size_t>(capacity));
        if (count > 0) return static_cast<int>(count);
        if (m_printer->ConnectionClosed()) return 0;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return -1;
        // Nothing arrives in process but what falls due: sleep until then,
        // a slice at a time.
        std::this_thread::sleep_until(
            std::min({deadline, m_printer->NextReplyDue().value_or(deadline),
                      now + std::chrono::milliseconds(kIdleSliceMs)}));
        // The operator's cancel ends the wait as its expiry would.
        if (!IdlePacer().Tick()) return -1;
    }
}

int CSimLink::Write(const uint8_t* data, int length) {
    if (!m_open || data == nullptr || length <= 0) return 0;
    if (m_printer->ConnectionClosed() || m_printer->IsAbsent()) return 0;
    // A busy printer is waited for a slice at a time, up to the write wait
    // without progress.
    const auto slice = std::chrono::milliseconds(std::min(m_waits.writeMs, kIdleSliceMs));
    const auto total = static_cast<size_t>(length);
    size_t sent = m_printer->ReceiveWaiting(data, total, slice);
    if (sent == total) return length;
    Clock::time_point lastProgress = Clock::now();
    while (sent < total) {
        if (!IdlePacer().Tick()) break;
        const size_t taken = m_printer->ReceiveWaiting(data + sent, total - sent, slice);
        if (taken > 0) {
            sent += taken;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress >= std::chrono::milliseconds(m_waits.writeMs) ||
                   m_printer->TakesInputAt() <= Clock::now()) {
            break;
        }
    }
    return static_cast<int>(sent);
}

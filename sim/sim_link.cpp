#include "sim/sim_link.h"

#include <utility>

CSimLink::CSimLink(std::shared_ptr<CSimPrinter> printer) : m_printer(std::move(printer)) {}

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

int CSimLink::Read(uint8_t* buffer, int capacity, int /*paced*/) {
    if (!m_open || buffer == nullptr || capacity <= 0) return -1;
    size_t count = m_printer->TakeReply(buffer, static_cast<size_t>(capacity));
    if (count > 0) return static_cast<int>(count);
    return m_printer->ConnectionClosed() ? 0 : -1;
}

int CSimLink::Write(const uint8_t* data, int length) {
    if (!m_open || data == nullptr || length <= 0) return 0;
    if (m_printer->ConnectionClosed() || m_printer->IsAbsent()) return 0;
    m_printer->Receive(data, static_cast<size_t>(length));
    return length;
}

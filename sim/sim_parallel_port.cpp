#include "sim/sim_parallel_port.h"

#include <utility>

namespace {

// Status bits 0 to 2 are not wired; most ports read them as 1.
constexpr uint8_t kUnwiredStatus = 0x07;
// Nothing attached: the port's pull-ups hold every line high, and a high
// Busy line reads as 0 in the inverted bit.
constexpr uint8_t kFloatingStatus = kUnwiredStatus | lpt::kStatusFault | lpt::kStatusSelect |
                                    lpt::kStatusPaperOut | lpt::kStatusAck;
constexpr uint8_t kUnknownRegister = 0xFF;

}  // namespace

CSimParallelPort::CSimParallelPort(std::shared_ptr<CSimPrinter> printer, SimParallelOptions options,
                                   uint8_t initialControl)
    : m_printer(std::move(printer)),
      m_options(options),
      m_control(initialControl),
      m_status(StatusOf(Lines{})) {}

uint8_t CSimParallelPort::StatusOf(const Lines& lines) {
    uint8_t status = kUnwiredStatus;
    if (lines.fault) status |= lpt::kStatusFault;
    if (lines.select) status |= lpt::kStatusSelect;
    if (lines.paperOut) status |= lpt::kStatusPaperOut;
    if (lines.ack) status |= lpt::kStatusAck;
    if (!lines.busy) status |= lpt::kStatusNotBusy;
    return status;
}

bool CSimParallelPort::Unresponsive() const {
    return m_options.absent || m_options.stuckBusy || !m_printer || m_printer->IsAbsent();
}

bool CSimParallelPort::DataAvailable() const { return m_printer->PendingReplyBytes() > 0; }

uint8_t CSimParallelPort::ReadRegister(uint16_t address) {
    uint8_t value = kUnknownRegister;
    switch (address) {
        case lpt::kDataRegister:
            value = m_data;
            break;
        case lpt::kStatusRegister:
            value = ReadStatus();
            break;
        case lpt::kControlRegister:
            value = m_control;
            break;
        default:
            break;
    }
    ++m_accessCount;
    if (m_recording) m_accesses.push_back({false, address, value});
    return value;
}

void CSimParallelPort::WriteRegister(uint16_t address, uint8_t value) {
    ++m_accessCount;
    if (m_recording) m_accesses.push_back({true, address, value});
    if (address == lpt::kDataRegister) {
        m_data = value;
    } else if (address == lpt::kControlRegister) {
        const uint8_t before = std::exchange(m_control, value);
        OnControl(before, value);
    }
}

uint8_t CSimParallelPort::ReadStatus() {
    if (m_options.absent || !m_printer || m_printer->IsAbsent()) return kFloatingStatus;
    if (m_options.stuckBusy) return StatusOf(Lines{.busy = true});
    if (m_phase == Phase::Compatibility && HoldsBusy()) return StatusOf(Lines{.busy = true});
    while (!m_pending.empty() && m_pending.front().reads <= 0) m_pending.pop_front();
    if (m_pending.empty()) return m_status;
    --m_pending.front().reads;
    return m_pending.front().status;
}

void CSimParallelPort::Answer(const Lines& lines) {
    m_pending.clear();
    if (m_options.responseReads > 0) m_pending.push_back({m_status, m_options.responseReads});
    m_status = StatusOf(lines);
}

CSimParallelPort::Lines CSimParallelPort::ReverseIdleLines() const {
    // XFlag low: nibble mode. nDataAvail and AckDataReq low while there is
    // reply data.
    const bool more = DataAvailable();
    return Lines{.busy = false, .ack = true, .paperOut = !more, .select = false, .fault = !more};
}

bool CSimParallelPort::HoldsBusy() {
    // A byte the printer refused is offered again once it takes input; Busy
    // stays high until then (for ever once the printer went silent).
    if (m_refused) {
        if (m_printer->Receive(&*m_refused, 1) != 1) return true;
        m_refused.reset();
        ++m_bytesReceived;
    }
    // A busy window that the last byte opened.
    const CSimPrinter::Clock::time_point ready = m_printer->TakesInputAt();
    return ready != CSimPrinter::Clock::time_point::max() && CSimPrinter::Clock::now() < ready;
}

void CSimParallelPort::AcceptForwardByte() {
    if (m_printer->Receive(&m_data, 1) != 1) {
        m_refused = m_data;
        return;
    }
    ++m_bytesReceived;
    // Busy at once, then the acknowledge pulse, then ready again. A printer
    // that answers at once shows neither.
    m_pending.clear();
    if (m_options.responseReads > 0) {
        m_pending.push_back({StatusOf(Lines{.busy = true}), m_options.responseReads});
        m_pending.push_back({StatusOf(Lines{.busy = true, .ack = false}), m_options.responseReads});
    }
    m_status = StatusOf(Lines{});
}

void CSimParallelPort::OfferNibble(uint8_t nibble) {
    Answer(Lines{.busy = (nibble & 0x8) != 0,
                 .ack = false,
                 .paperOut = (nibble & 0x4) != 0,
                 .select = (nibble & 0x2) != 0,
                 .fault = (nibble & 0x1) != 0});
}

void CSimParallelPort::OnControl(uint8_t before, uint8_t after) {
    if (Unresponsive()) return;
    // Set bits drive their lines low.
    const auto lowered = [&](uint8_t bit) { return !(before & bit) && (after & bit); };
    const auto raised = [&](uint8_t bit) { return (before & bit) && !(after & bit); };
    const bool hostBusyLow = (after & lpt::kControlAutoFeed) != 0;
    const bool active1284 = (after & lpt::kControlSelectIn) == 0;

    // nSelectIn low ends any 1284 transfer, wherever it stood; a byte half
    // sent is lost.
    if (lowered(lpt::kControlSelectIn) && m_phase != Phase::Compatibility &&
        m_phase != Phase::Terminating && m_phase != Phase::TerminatingAcked) {
        m_phase = Phase::Terminating;
        Answer(Lines{.ack = false});
        return;
    }

    switch (m_phase) {
        case Phase::Compatibility:
            if ((raised(lpt::kControlSelectIn) || lowered(lpt::kControlAutoFeed)) && active1284 &&
                hostBusyLow) {
                // Negotiation: nAck low, PError, Select and nFault high.
                m_phase = Phase::Negotiating;
                Answer(Lines{.ack = false, .paperOut = true, .select = true, .fault = true});
            } else if (lowered(lpt::kControlStrobe) && !active1284) {
                AcceptForwardByte();
            }
            break;
        case Phase::Negotiating:
            if (lowered(lpt::kControlStrobe)) {
                m_requests.push_back(m_data);
                m_phase = Phase::NegotiationStrobed;
            }
            break;
        case Phase::NegotiationStrobed:
            if (raised(lpt::kControlAutoFeed)) {
                // Only nibble mode is offered; any other request gets an
                // empty reverse channel.
                m_offered = 0;
                m_phase = Phase::ReverseIdle;
                Lines lines = ReverseIdleLines();
                if (m_requests.back() != 0x00) lines.fault = lines.paperOut = true;
                Answer(lines);
            }
            break;
        case Phase::ReverseIdle:
            if (lowered(lpt::kControlAutoFeed) && m_requests.back() == 0x00 && DataAvailable() &&
                (m_options.stallAfterReplyBytes < 0 ||
                 m_offered < m_options.stallAfterReplyBytes)) {
                if (m_printer->TakeReply(&m_byte, 1) != 1) break;
                ++m_offered;
                m_phase = Phase::LowNibble;
                OfferNibble(m_byte & 0x0F);
            }
            break;
        case Phase::LowNibble:
            if (raised(lpt::kControlAutoFeed)) {
                m_phase = Phase::LowNibbleDone;
                Lines lines{.busy = (m_byte & 0x08) != 0,
                            .paperOut = (m_byte & 0x04) != 0,
                            .select = (m_byte & 0x02) != 0,
                            .fault = (m_byte & 0x01) != 0};
                Answer(lines);
            }
            break;
        case Phase::LowNibbleDone:
            if (lowered(lpt::kControlAutoFeed)) {
                m_phase = Phase::HighNibble;
                OfferNibble(static_cast<uint8_t>(m_byte >> 4));
            }
            break;
        case Phase::HighNibble:
            if (raised(lpt::kControlAutoFeed)) {
                m_phase = Phase::ReverseIdle;
                Answer(ReverseIdleLines());
            }
            break;
        case Phase::Terminating:
            if (lowered(lpt::kControlAutoFeed)) {
                m_phase = Phase::TerminatingAcked;
                Answer(Lines{});
            }
            break;
        case Phase::TerminatingAcked:
            if (raised(lpt::kControlAutoFeed)) m_phase = Phase::Compatibility;
            break;
    }
}

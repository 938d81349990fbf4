#include "links/parallel_if.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "seams/text_scan.h"

namespace {

using Clock = std::chrono::steady_clock;

// The extensibility request byte that asks the printer for nibble mode.
constexpr uint8_t kNibbleModeRequest = 0x00;

}  // namespace

std::optional<int> ParallelPortNumber(std::string_view portName) {
    constexpr std::string_view kPrefix = "LPT";
    constexpr int kPorts = 4;
    if (!textscan::StartsWithNoCase(portName, kPrefix)) return std::nullopt;
    std::string_view number = portName.substr(kPrefix.size());
    if (!number.empty() && number.back() == ':') number.remove_suffix(1);
    const std::optional<long long> n = textscan::WholeNumber(number);
    if (number.size() != 1 || !n || *n < 1 || *n > kPorts) return std::nullopt;
    return static_cast<int>(*n);
}

CParallelIF::CParallelIF(std::string portName)
    : CParallelIF(portName, PortOpener([this, portName] {
                      return OpenSystemParallelPort(portName, &m_openFailure);
                  })) {}

CParallelIF::CParallelIF(std::string portName, std::shared_ptr<IPortRegisters> registers,
                         WaitLimits limits)
    : CParallelIF(std::move(portName), PortOpener([registers] { return registers; }), limits) {}

CParallelIF::CParallelIF(std::string portName, PortOpener opener, WaitLimits limits)
    : m_portName(std::move(portName)), m_opener(std::move(opener)), m_limits(limits) {}

CParallelIF::~CParallelIF() = default;

int CParallelIF::Open() {
    // Release first: a second claim by this process would wait for ever on
    // the first.
    m_registers.reset();
    m_openFailure.clear();
    m_registers = m_opener ? m_opener() : nullptr;
    if (!m_registers) return 0;
    // A printer taken for gone stays so across the reconnect a failed write
    // starts: the open always succeeds, and the first look at the lines tells
    // whether it is back. Otherwise every reconnect would wait out the long
    // limit again.
    PutLinesAtRest();
    return 1;
}

void CParallelIF::Close() { m_registers.reset(); }

// --- register access ------------------------------------------------------------

uint8_t CParallelIF::ReadStatus() { return m_registers->ReadRegister(lpt::kStatusRegister); }

void CParallelIF::ChangeControl(uint8_t bit, bool set) {
    const uint8_t control = m_registers->ReadRegister(lpt::kControlRegister);
    m_registers->WriteRegister(lpt::kControlRegister,
                               static_cast<uint8_t>(set ? control | bit : control & ~bit));
}

bool CParallelIF::WaitForStatus(uint8_t bit, bool set, bool longWait) {
    const auto satisfied = [&] { return ((ReadStatus() & bit) != 0) == set; };
    if (m_printerSilent) {
        if (!satisfied()) return false;
        m_printerSilent = false;
        return true;
    }
    const int deadlineMs = longWait ? m_limits.busyDeadlineMs : m_limits.deadlineMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    for (long long polls = 0; m_limits.maxPolls <= 0 || polls < m_limits.maxPolls; ++polls) {
        if (satisfied()) return true;
        const auto now = Clock::now();
        if (now >= deadline) break;
        // The lines are polled without a pause, as the handshake needs; a
        // printer holding Busy for seconds must not freeze the window. The
        // operator's cancel ends the wait as its expiry would.
        if (!IdlePacer().Tick(now)) break;
    }
    m_printerSilent = true;
    return false;
}

void CParallelIF::PutLinesAtRest() {
    ClearControl(lpt::kControlStrobe);
    ClearControl(lpt::kControlAutoFeed);
    SetControl(lpt::kControlSelectIn);
}

// --- forward channel: compatibility mode ---------------------------------------

bool CParallelIF::SendByte(uint8_t byte) {
    if (!WaitForStatus(lpt::kStatusNotBusy, true, true)) return false;
    m_registers->WriteRegister(lpt::kDataRegister, byte);
    // The strobe pulse lasts as long as the two register accesses between
    // its edges: a microsecond or more, above the half microsecond a printer
    // needs.
    SetControl(lpt::kControlStrobe);
    ClearControl(lpt::kControlStrobe);
    // A printer that turns busy with this byte acknowledges it only when it
    // takes input again.
    return WaitForStatus(lpt::kStatusAck, true, true);
}

int CParallelIF::Write(const uint8_t* data, int length) {
    if (!m_registers || data == nullptr || length <= 0) return 0;
    for (int i = 0; i < length; ++i) {
        // A printer that stops answering has not taken the frame, whatever
        // part of it went out: report the link as failed so the sending
        // forms reconnect.
        if (!SendByte(data[i])) return 0;
    }
    if (!WaitForStatus(lpt::kStatusNotBusy, true, true)) return 0;
    return length;
}

// --- reverse channel: IEEE 1284 nibble mode ----------------------------------

bool CParallelIF::Negotiate() {
    SetControl(lpt::kControlAutoFeed);
    ClearControl(lpt::kControlSelectIn);
    if (!WaitForStatus(lpt::kStatusAck, false)) return false;
    m_registers->WriteRegister(lpt::kDataRegister, kNibbleModeRequest);
    SetControl(lpt::kControlStrobe);
    ClearControl(lpt::kControlStrobe);
    ClearControl(lpt::kControlAutoFeed);
    return WaitForStatus(lpt::kStatusAck, true);
}

uint8_t CParallelIF::ReadNibble() {
    // One status read per data line, lowest bit first; Busy carries the
    // top bit, inverted by the port.
    uint8_t nibble = 0;
    if (ReadStatus() & lpt::kStatusFault) nibble |= 0x1;
    if (ReadStatus() & lpt::kStatusSelect) nibble |= 0x2;
    if (ReadStatus() & lpt::kStatusPaperOut) nibble |= 0x4;
    if (!(ReadStatus() & lpt::kStatusNotBusy)) nibble |= 0x8;
    return nibble;
}

int CParallelIF::ReceiveReply(uint8_t* buffer, int capacity, bool& offered) {
    int stored = 0;
    int dropped = 0;
    while (stored < capacity || dropped < kMaxDroppedBytes) {
        // nDataAvail low: the printer has another byte.
        if (ReadStatus() & lpt::kStatusFault) break;
        offered = true;

        SetControl(lpt::kControlAutoFeed);
        if (!WaitForStatus(lpt::kStatusAck, false)) break;
        const uint8_t low = ReadNibble();
        ClearControl(lpt::kControlAutoFeed);
        if (!WaitForStatus(lpt::kStatusAck, true)) break;

        SetControl(lpt::kControlAutoFeed);
        if (!WaitForStatus(lpt::kStatusAck, false)) break;
        const uint8_t high = ReadNibble();
        // The byte is complete: it counts even if the closing handshake
        // below fails.
        const uint8_t byte = static_cast<uint8_t>(low | (high << 4));
        if (stored < capacity) {
            buffer[stored++] = byte;
        } else {
            ++dropped;
        }
        ClearControl(lpt::kControlAutoFeed);
        if (!WaitForStatus(lpt::kStatusAck, true)) break;
    }
    return stored;
}

void CParallelIF::Terminate() {
    // After an expired wait the lines are moved without waiting: the printer
    // is not following, and a line that merely floats at the awaited level
    // must not make it count as present again. HostBusy may have been left
    // low in the middle of a handshake; termination starts with it high, or
    // its own HostBusy pulse would be no edge at all.
    const bool wait = !m_printerSilent;
    if (!wait) ClearControl(lpt::kControlAutoFeed);
    SetControl(lpt::kControlSelectIn);
    if (wait) WaitForStatus(lpt::kStatusAck, false);
    SetControl(lpt::kControlAutoFeed);
    if (wait) WaitForStatus(lpt::kStatusAck, true);
    ClearControl(lpt::kControlAutoFeed);
}

int CParallelIF::ReadOnce(uint8_t* buffer, int capacity, bool& offered) {
    offered = false;
    int count = 0;
    if (Negotiate()) count = ReceiveReply(buffer, capacity, offered);
    Terminate();
    return count;
}

int CParallelIF::Read(uint8_t* buffer, int capacity, int /*paced*/) {
    if (!m_registers || buffer == nullptr || capacity <= 0) return 0;
    // A reply that is not ready yet is not "no reply": ask again for a while.
    // A printer taken for gone costs one look at the lines per attempt, so
    // the attempts are spaced a slice apart rather than made back to back:
    // a caller reading on through empty reads (the card record) would
    // otherwise spin at full speed with the window frozen.
    const auto until = Clock::now() + std::chrono::milliseconds(m_limits.replyWaitMs);
    for (;;) {
        bool offered = false;
        const int count = ReadOnce(buffer, capacity, offered);
        if (offered || count > 0 || Clock::now() >= until) return count;
        const int pauseMs = m_printerSilent ? kIdleSliceMs : kRenegotiatePauseMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        if (!IdlePacer().Tick()) return count;
    }
}

#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "links/port_registers.h"
#include "sim/sim_printer.h"

// How the simulated peripheral misbehaves. May be changed between accesses.
struct SimParallelOptions {
    // Status reads before each answer of the printer shows (0: at once). A
    // byte strobed in compatibility mode then holds Busy for this many reads
    // and pulls nAck low for as many more.
    int responseReads = 0;
    // Nothing on the cable: every status line floats high (Busy included).
    bool absent = false;
    // A hung printer: Busy stays high and no handshake is answered.
    bool stuckBusy = false;
    // Stops answering the reverse-channel handshake once it has offered this
    // many bytes in one transfer (-1: never), as a printer whose firmware
    // stalls in the middle of a reply. Termination still works.
    int stallAfterReplyBytes = -1;
};

struct SimPortAccess {
    bool write = false;
    uint16_t address = 0;
    uint8_t value = 0;

    bool operator==(const SimPortAccess&) const = default;
};

// An IEEE 1284 printer on the simulated parallel port: the printer simulator
// behind the three port registers. It latches a byte on every strobe in
// compatibility mode and acknowledges it, answers the nibble-mode
// negotiation, offers its reply four status lines at a time, and returns to
// compatibility mode on termination.
//
// There is no thread: the peripheral moves when the link changes a control
// line, and its answers appear on the status lines after a number of status
// reads, so every run is the same. Only the printer's own timing runs on the
// clock: Busy is held through a busy window, and reply data shows as
// available once it is due.
//
// Single-threaded: the link and the test use it from one thread.
class CSimParallelPort : public IPortRegisters {
public:
    enum class Phase {
        Compatibility,
        Negotiating,         // 1284 Active raised with HostBusy low: nAck pulled low
        NegotiationStrobed,  // the extensibility request byte latched
        ReverseIdle,         // nibble mode, between bytes; nDataAvail tells if there is more
        LowNibble,           // low nibble on the lines, nAck low
        LowNibbleDone,       // host took it, nAck high again
        HighNibble,          // high nibble on the lines, nAck low
        Terminating,         // 1284 Active dropped: nAck low
        TerminatingAcked,    // host answered: nAck high, back once HostBusy goes high
    };

    // What a PC's start-up code and the Linux driver leave in the control
    // register: nInit high, nSelectIn low.
    static constexpr uint8_t kPowerOnControl = lpt::kControlInit | lpt::kControlSelectIn;

    explicit CSimParallelPort(std::shared_ptr<CSimPrinter> printer, SimParallelOptions options = {},
                              uint8_t initialControl = kPowerOnControl);

    uint8_t ReadRegister(uint16_t address) override;
    void WriteRegister(uint16_t address, uint8_t value) override;

    // --- test side --------------------------------------------------------
    SimParallelOptions& Options() { return m_options; }
    const std::shared_ptr<CSimPrinter>& Printer() const { return m_printer; }
    Phase GetPhase() const { return m_phase; }
    uint8_t Control() const { return m_control; }
    // Every register access in order, while recording (on at first).
    const std::vector<SimPortAccess>& Accesses() const { return m_accesses; }
    void ClearAccesses() { m_accesses.clear(); }
    void SetRecording(bool on) { m_recording = on; }
    // Counted whether recording or not.
    uint64_t AccessCount() const { return m_accessCount; }
    // Bytes the printer latched in compatibility mode.
    uint64_t BytesReceived() const { return m_bytesReceived; }
    // The extensibility request byte of every negotiation, in order.
    const std::vector<uint8_t>& Requests() const { return m_requests; }

private:
    struct Lines {
        bool busy = false;
        bool ack = true;
        bool paperOut = false;
        bool select = true;
        bool fault = true;
    };
    struct Showing {
        uint8_t status;
        int reads;
    };

    static uint8_t StatusOf(const Lines& lines);
    bool Unresponsive() const;
    // Busy held: a busy window, or a byte the printer has not taken yet.
    bool HoldsBusy();
    bool DataAvailable() const;
    uint8_t ReadStatus();
    void OnControl(uint8_t before, uint8_t after);
    // The printer's answer: the lines change after `responseReads` status
    // reads, which see the old ones meanwhile.
    void Answer(const Lines& lines);
    void AcceptForwardByte();
    void OfferNibble(uint8_t nibble);
    Lines ReverseIdleLines() const;

    std::shared_ptr<CSimPrinter> m_printer;
    SimParallelOptions m_options;
    uint8_t m_data = 0;
    uint8_t m_control;
    Phase m_phase = Phase::Compatibility;
    uint8_t m_status;
    std::deque<Showing> m_pending;
    uint8_t m_byte = 0;                // the reply byte on offer
    std::optional<uint8_t> m_refused;  // strobed while the printer took nothing
    int m_offered = 0;                 // reply bytes offered in this transfer

    bool m_recording = true;
    std::vector<SimPortAccess> m_accesses;
    uint64_t m_accessCount = 0;
    uint64_t m_bytesReceived = 0;
    std::vector<uint8_t> m_requests;
};

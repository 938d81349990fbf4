#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "links/character_interface.h"
#include "links/port_registers.h"

// A handshake wait gives up at whichever comes first: the deadline,
// measured on a steady clock, or the number of status reads (0: no
// count). A printer answers a handshake step within microseconds (IEEE
// 1284 allows 35 ms), so a second is generous yet short enough not to
// leave the window frozen for long. The read count exists for tests
// against the simulated peripheral, whose accesses are nearly free and
// which answers after a number of reads: it keeps them deterministic.
//
// Inside Write, Busy and the acknowledge may take up to busyDeadlineMs: a
// printer with a full buffer or erasing its flash holds Busy for
// seconds. When the printer has no reply to offer yet, Read negotiates
// again for up to replyWaitMs before it reports nothing, as a reply may
// come a moment after its request.
struct ParallelWaitLimits {
    int deadlineMs;
    long long maxPolls;
    int busyDeadlineMs = 30000;
    int replyWaitMs = 2000;
};

// A printer on the PC's parallel port, driven register by register: bytes go
// out with the compatibility-mode strobe handshake, the reply comes back
// through the IEEE 1284 nibble-mode reverse channel, four status lines at a
// time. The name chooses the port (OpenSystemParallelPort); the registers
// are 0x378 to 0x37A on every one.
//
// Open claims the port (and fails when it cannot), then puts the control
// lines at rest: nStrobe and nAutoFd high, nSelectIn low (compatibility
// mode). It does this after the claim because the claim itself resets the
// lines. Close releases the port.
//
// Every wait on a status line is bounded (WaitLimits). A wait that expires
// makes Write return 0 and ends Read with the bytes received so far, the port
// put back in compatibility mode. After an expired wait the link takes the
// printer for gone: the first wait of each later Write or Read looks at the
// lines once, until one finds what it waits for. So a missing printer costs
// one time limit, not one per request or per reconnect; a Read then still
// waits out its reply wait, looking at the lines once a slice. Inside one Write the
// waits are always full ones: a printer that holds Busy while its buffer is
// full or its flash is erased takes seconds, and a byte must not be dropped
// for that.
// The number of a parallel port's name: 1 to 4 for "LPT1:" to "LPT4:",
// regardless of case and of the colon; no value for any other name.
std::optional<int> ParallelPortNumber(std::string_view portName);

class CParallelIF : public CCharacterInterface {
public:
    using WaitLimits = ParallelWaitLimits;
    static constexpr WaitLimits kDefaultWaitLimits{1000, 0};
    // Between two negotiations that found no reply: the port is left alone
    // for a moment rather than hammered.
    static constexpr int kRenegotiatePauseMs = 2;

    // Reply bytes the printer still offers once the caller's area is full are
    // read and dropped, so they cannot open the next reply. Replies are far
    // shorter; the bound only stops a printer that never stops talking.
    static constexpr int kMaxDroppedBytes = 16 * 1024;

    // Gives the registers, or none when the port cannot be reached.
    using PortOpener = std::function<std::shared_ptr<IPortRegisters>()>;

    // The machine's own port (OpenSystemParallelPort).
    explicit CParallelIF(std::string portName);
    // Registers already at hand, such as the simulated peripheral.
    CParallelIF(std::string portName, std::shared_ptr<IPortRegisters> registers,
                WaitLimits limits = kDefaultWaitLimits);
    CParallelIF(std::string portName, PortOpener opener, WaitLimits limits = kDefaultWaitLimits);
    ~CParallelIF() override;

    int Open() override;
    void Close() override;
    // `paced` is ignored: the handshake paces the transfer.
    int Read(uint8_t* buffer, int capacity, int paced) override;
    int Write(const uint8_t* data, int length) override;

    std::string OpenFailure() const override { return m_openFailure; }

    const std::string& PortName() const { return m_portName; }
    bool IsOpen() const { return m_registers != nullptr; }

private:
    uint8_t ReadStatus();
    // One read-modify-write of the control register; changes are never
    // merged, each line moves on its own.
    void ChangeControl(uint8_t bit, bool set);
    void SetControl(uint8_t bit) { ChangeControl(bit, true); }
    void ClearControl(uint8_t bit) { ChangeControl(bit, false); }
    // Polls the status register until `bit` reads as `set`; false when the
    // wait expired. `long` waits are those inside Write.
    bool WaitForStatus(uint8_t bit, bool set, bool longWait = false);

    void PutLinesAtRest();
    bool SendByte(uint8_t byte);
    // Into nibble mode; false when the printer did not follow.
    bool Negotiate();
    // One negotiation, transfer and termination; `offered` tells whether the
    // printer had reply data at all.
    int ReadOnce(uint8_t* buffer, int capacity, bool& offered);
    // The reverse transfer: stores up to `capacity` bytes, drops the rest.
    // `offered` tells whether the printer had any byte to give.
    int ReceiveReply(uint8_t* buffer, int capacity, bool& offered);
    uint8_t ReadNibble();
    // Back to compatibility mode, whatever state the reverse channel was
    // left in; the outcome of its waits does not matter.
    void Terminate();

    std::string m_portName;
    // Why the last open found no port, where the system said.
    std::string m_openFailure;
    PortOpener m_opener;
    WaitLimits m_limits;
    std::shared_ptr<IPortRegisters> m_registers;
    bool m_printerSilent = false;
};

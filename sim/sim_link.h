#pragma once

#include <memory>

#include "links/character_interface.h"
#include "sim/sim_printer.h"

// The simulated printer as an in-process link: what the protocol object
// writes goes straight into the printer, and reads take its queued replies.
// The printer is shared so a test keeps it while the protocol object owns
// the link.
//
// Read mirrors the Ethernet link: it waits up to the receive wait for a reply
// to fall due, then reads as a time-out (-1); a printer that dropped the
// connection reads as closed (0). Write hands the printer what it takes and
// waits, up to the write wait without progress, while it is busy; it returns
// the count taken. Both waits are 0 by default: a printer that answers at
// once needs none, and tests of a silent one stay instant.
class CSimLink : public CCharacterInterface {
public:
    struct Waits {
        int receiveMs = 0;
        int writeMs = 0;
    };

    explicit CSimLink(std::shared_ptr<CSimPrinter> printer);
    CSimLink(std::shared_ptr<CSimPrinter> printer, Waits waits);

    int Open() override;
    void Close() override;
    int Read(uint8_t* buffer, int capacity, int paced) override;
    int Write(const uint8_t* data, int length) override;
    int ReceiveWaitMs() const override { return m_waits.receiveMs; }
    bool HasFailed() const override;

    const std::shared_ptr<CSimPrinter>& Printer() const { return m_printer; }
    int Opens() const { return m_opens; }
    int Closes() const { return m_closes; }
    bool IsOpen() const { return m_open; }

private:
    std::shared_ptr<CSimPrinter> m_printer;
    Waits m_waits;
    bool m_open = false;
    int m_opens = 0;
    int m_closes = 0;
};

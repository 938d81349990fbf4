#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "sim/sim_printer.h"

// The simulated printer behind a real USB stack: it serves the printer side
// of a Linux USB printer gadget (its character device, /dev/g_printer0 by
// default), so the host sees a printer-class device whose bulk pipes lead to
// this printer. Bytes the host writes to the OUT pipe are the printer's
// input; each reply goes to the IN pipe as one write, which the gadget ends
// with a short packet as a printer ends a reply.
//
// The device node exists only while the gadget is plugged in (bound to its
// controller) and the host has configured it, so the server opens it again
// whenever it vanished, and each opening is a new connection of the printer.
class CSimGadgetServer {
public:
    explicit CSimGadgetServer(std::shared_ptr<CSimPrinter> printer);
    ~CSimGadgetServer();

    CSimGadgetServer(const CSimGadgetServer&) = delete;
    CSimGadgetServer& operator=(const CSimGadgetServer&) = delete;

    // Starts serving `device` from a background thread. False, with the
    // reason in `error`, where the platform has no gadgets.
    bool Start(const std::string& device, std::string* error = nullptr);
    void Stop();

private:
    void Run();
    // One opening of the node, until it fails or the server stops.
    void Serve(int fd);

    std::shared_ptr<CSimPrinter> m_printer;
    std::string m_device;
    std::atomic<bool> m_stop{false};
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::thread m_thread;
};

#pragma once

#include <memory>
#include <string>

#include "links/link_factory.h"
#include "links/program_state.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"
#include "sim/sim_usb_backend.h"

class IUsbSelectionRunner;

// One simulated printer behind all three port kinds, for running the real
// program without hardware (demos, training, end-to-end checks). The links
// are the program's own: USB discovery lists the printer with a print
// queue, LPT1: to LPT4: reach its IEEE 1284 peripheral, and Ethernet reaches
// it over a loopback socket whatever address is typed.
class CSimulatedPrinterPorts {
public:
    static constexpr const char* kQueueName = "Tessaly-Simulated-Printer";
    static constexpr const char* kUsbSerial = "SIM00001";
    // The serial of the USB printer `index` (from 0): kUsbSerial first.
    static std::string UsbSerial(int index);

    explicit CSimulatedPrinterPorts(SimPrinterState state);
    ~CSimulatedPrinterPorts();

    CSimulatedPrinterPorts(const CSimulatedPrinterPorts&) = delete;
    CSimulatedPrinterPorts& operator=(const CSimulatedPrinterPorts&) = delete;

    // Starts the printer's TCP side on a free loopback port.
    bool Start(std::string* error);
    // Makes every link built from `parts` reach the simulated printer; this
    // object must outlive them.
    void Supply(LinkParts& parts);
    // Links to the simulated printer. This object, `state`, `host` and
    // `selection` must outlive every link the factory makes.
    LinkFactory Factory(tessaly::ProgramState& state, IHostServices& host,
                        IUsbSelectionRunner& selection);

    const std::shared_ptr<CSimPrinter>& Printer() const { return m_printer; }
    uint16_t TcpPort() const { return m_server.Port(); }
    // The printer as USB discovery sees it: the device and its print queue.
    const std::shared_ptr<CSimUsbBackend>& UsbBackend() const { return m_usb; }

private:
    std::shared_ptr<CSimPrinter> m_printer;
    CSimTcpServer m_server;
    std::shared_ptr<CSimParallelPort> m_parallel;
    std::shared_ptr<CSimUsbBackend> m_usb;
};

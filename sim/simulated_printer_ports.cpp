#include "sim/simulated_printer_ports.h"

#include <cstdio>

#include "links/socket_ops.h"
#include "seams/text_scan.h"

namespace {

// The product ID the printer reports over USB follows its "PID" value.
uint16_t UsbProductId(const SimPrinterState& state) {
    const auto pid = state.values.find("PID");
    if (pid == state.values.end()) return 0x8801;
    return static_cast<uint16_t>(textscan::LeadingInteger(pid->second));
}

}  // namespace

CSimulatedPrinterPorts::CSimulatedPrinterPorts(SimPrinterState state)
    : m_printer(std::make_shared<CSimPrinter>(state)),
      m_server(m_printer),
      m_parallel(std::make_shared<CSimParallelPort>(m_printer)),
      m_usb(std::make_shared<CSimUsbBackend>()) {
    for (int i = 0; i < state.usbPrinters; ++i) {
        SimUsbDevice device;
        device.productId = UsbProductId(state);
        device.serial = UsbSerial(i);
        device.queueName = kQueueName;
        if (i > 0) device.queueName += "-" + std::to_string(i + 1);
        device.printer = i == 0 ? m_printer : std::make_shared<CSimPrinter>(state);
        device.ports = {i + 1};
        m_usb->AddDevice(std::move(device));
    }
}

std::string CSimulatedPrinterPorts::UsbSerial(int index) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%05d", index + 1);
    return serial;
}

CSimulatedPrinterPorts::~CSimulatedPrinterPorts() { m_server.Stop(); }

bool CSimulatedPrinterPorts::Start(std::string* error) { return m_server.Start(0, error); }

void CSimulatedPrinterPorts::Supply(LinkParts& parts) {
    parts.usbBackend = m_usb;
    parts.queues = m_usb;
    parts.parallelPort = m_parallel;
    parts.ethernetPeer = LinkParts::Peer{net::kLoopbackAddress, m_server.Port()};
}

LinkFactory CSimulatedPrinterPorts::Factory(tessaly::ProgramState& state, IHostServices& host,
                                            IUsbSelectionRunner& selection) {
    LinkParts parts{state};
    parts.host = &host;
    parts.selection = &selection;
    Supply(parts);
    return PortLinkFactory(std::move(parts));
}

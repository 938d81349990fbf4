#include "sim/simulated_printer_ports.h"

#include <cstdio>

#include "links/ethernet_if.h"
#include "links/parallel_if.h"
#include "links/usb_device.h"
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

LinkFactory CSimulatedPrinterPorts::Factory(tessaly::ProgramState& state, IHostServices& host,
                                            IUsbSelectionRunner& selection) {
    return [this, &state, &host, &selection](
               int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        switch (kind) {
            case kLinkUsb:
                return std::make_unique<CUSBDevice>(
                    UsbLinkParts{m_usb, m_usb, selection, host, state});
            case kLinkEthernet:
                return std::make_unique<CEthernetIF>(
                    state, m_server.Port(), CEthernetIF::kReceiveTimeoutMs,
                    CEthernetIF::kConnectTimeoutMs, CEthernetIF::kSendTimeoutMs,
                    [] { return std::string("127.0.0.1"); });
            default:
                return std::make_unique<CParallelIF>(portName, m_parallel);
        }
    };
}

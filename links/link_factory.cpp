#include "links/link_factory.h"

#include "links/parallel_if.h"
#include "links/print_queues.h"
#include "links/trace_link.h"
#include "links/usb_backend.h"
#include "links/usb_device.h"
#include "links/usb_selection.h"

namespace {

// USB without the desktop's selection dialog: the program wires the real
// link through DefaultLinkFactory(state, host, selection); until then choosing USB
// reports an unreachable printer like any link that cannot open.
class CUnwiredUsbLink : public CCharacterInterface {
public:
    int Open() override { return 0; }
    void Close() override {}
    int Read(uint8_t*, int, int) override { return 0; }
    int Write(const uint8_t*, int) override { return 0; }
};

// A USB link that owns the selection it chooses by.
class CSelfChoosingUsbLink : public CUSBDevice {
public:
    CSelfChoosingUsbLink(std::unique_ptr<IUsbSelectionRunner> selection, UsbLinkParts parts)
        : CUSBDevice(std::move(parts)), m_selection(std::move(selection)) {}

private:
    std::unique_ptr<IUsbSelectionRunner> m_selection;
};

std::unique_ptr<CCharacterInterface> MakeUsbLink(const LinkEndpoint& endpoint,
                                                 const LinkParts& parts) {
    if (parts.host == nullptr || !parts.usbBackend) return std::make_unique<CUnwiredUsbLink>();
    const auto usbParts = [&](IUsbSelectionRunner& selection) {
        UsbLinkParts usb{parts.usbBackend, parts.queues, selection, *parts.host, parts.state};
        usb.diagnostics = parts.usbDiagnostics;
        return usb;
    };
    if (parts.selection != nullptr) return std::make_unique<CUSBDevice>(usbParts(*parts.selection));
    auto selection = std::make_unique<CSerialUsbSelection>(endpoint.serial);
    UsbLinkParts usb = usbParts(*selection);
    return std::make_unique<CSelfChoosingUsbLink>(std::move(selection), std::move(usb));
}

std::string ParallelPortName(int lpt) { return "LPT" + std::to_string(lpt) + ":"; }

}  // namespace

LinkEndpoint EndpointFor(int kind, const std::string& portName) {
    LinkEndpoint endpoint;
    endpoint.kind = kind;
    if (kind == kLinkParallel) endpoint.lpt = ParallelPortNumber(portName).value_or(1);
    return endpoint;
}

std::unique_ptr<CCharacterInterface> MakeLink(const LinkEndpoint& endpoint,
                                              const LinkParts& parts) {
    switch (endpoint.kind) {
        case kLinkUsb:
            return MakeUsbLink(endpoint, parts);
        case kLinkEthernet: {
            CEthernetIF::Settings settings(endpoint.port, parts.receiveWaitMs);
            settings.address = endpoint.address;
            if (parts.ethernetPeer) {
                settings.address = parts.ethernetPeer->address;
                settings.port = parts.ethernetPeer->port;
            }
            return std::make_unique<CEthernetIF>(parts.state, settings);
        }
        default:
            if (parts.parallelPort)
                return std::make_unique<CParallelIF>(ParallelPortName(endpoint.lpt),
                                                     parts.parallelPort);
            return std::make_unique<CParallelIF>(ParallelPortName(endpoint.lpt));
    }
}

LinkFactory PortLinkFactory(LinkParts parts) {
    return [parts](int kind, const std::string& portName) {
        return MakeLink(EndpointFor(kind, portName), parts);
    };
}

LinkFactory DefaultLinkFactory(tessaly::ProgramState& state) {
    return PortLinkFactory(LinkParts{state});
}

void AddSystemUsb(LinkParts& parts) {
    parts.usbBackend = MakeSystemUsbBackend();
    parts.queues = MakeSystemPrintQueues();
}

LinkFactory DefaultLinkFactory(tessaly::ProgramState& state, IHostServices& host,
                               IUsbSelectionRunner& selection) {
    LinkParts parts{state};
    parts.host = &host;
    parts.selection = &selection;
    AddSystemUsb(parts);
    return PortLinkFactory(std::move(parts));
}

LinkFactory TracedLinkFactory(LinkFactory inner, std::shared_ptr<CTraceFile> trace,
                              std::string printer) {
    return [inner = std::move(inner), trace = std::move(trace), printer = std::move(printer)](
               int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        std::unique_ptr<CCharacterInterface> link = inner ? inner(kind, portName) : nullptr;
        if (!link) return nullptr;
        return std::make_unique<CTraceLink>(std::move(link), trace, kind, printer);
    };
}

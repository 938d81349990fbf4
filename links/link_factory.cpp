#include "links/link_factory.h"

#include "links/ethernet_if.h"
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

}  // namespace

LinkFactory DefaultLinkFactory(tessaly::ProgramState& state) {
    return [&state](int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        switch (kind) {
            case kLinkUsb:
                return std::make_unique<CUnwiredUsbLink>();
            case kLinkEthernet:
                return std::make_unique<CEthernetIF>(state);
            default:
                return std::make_unique<CParallelIF>(portName);
        }
    };
}

LinkFactory DefaultLinkFactory(tessaly::ProgramState& state, IHostServices& host,
                               IUsbSelectionRunner& selection) {
    // One USB session and one print-queue source for the whole run.
    std::shared_ptr<IUsbBackend> backend = MakeSystemUsbBackend();
    std::shared_ptr<IPrintQueueSource> queues = MakeSystemPrintQueues();
    LinkFactory others = DefaultLinkFactory(state);
    return [backend, queues, others, &state, &host, &selection](
               int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        if (kind != kLinkUsb) return others(kind, portName);
        return std::make_unique<CUSBDevice>(UsbLinkParts{backend, queues, selection, host, state});
    };
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

#include "links/ethernet_if.h"
#include "links/libusb_backend.h"
#include "links/parallel_if.h"
#include "links/usb_device.h"
#include "protocol/message_if.h"

LinkFactory DefaultLinkFactory() {
    return [](int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        switch (kind) {
            case kLinkUsb: return nullptr;
            case kLinkEthernet: return std::make_unique<CEthernetIF>();
            default: return std::make_unique<CParallelIF>(portName);
        }
    };
}

LinkFactory DefaultLinkFactory(IHostServices& host, IUsbSelectionRunner& selection) {
    // One libusb session and one print-queue source for the whole run.
    auto backend = std::make_shared<CLibusbBackend>();
    auto queues = std::make_shared<CCupsPrintQueues>();
    LinkFactory others = DefaultLinkFactory();
    return [backend, queues, others, &host, &selection](
               int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        if (kind != kLinkUsb) return others(kind, portName);
        return std::make_unique<CUSBDevice>(UsbLinkParts{backend, queues, selection, host});
    };
}

#include "links/ethernet_if.h"
#include "links/parallel_if.h"
#include "links/usb_device.h"
#include "protocol/message_if.h"

LinkFactory DefaultLinkFactory() {
    return [](int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        switch (kind) {
            case kLinkUsb: return std::make_unique<CUSBDevice>();
            case kLinkEthernet: return std::make_unique<CEthernetIF>();
            default: return std::make_unique<CParallelIF>(portName);
        }
    };
}

#include "links/usb_backend.h"

#include <cstdio>

std::string MakeUsbDevicePath(uint16_t vendorId, uint16_t productId, const std::string& instance) {
    char ids[24];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendorId, productId);
    return std::string(kUsbDevicePathPrefix) + ids + '#' + instance + '#' +
           kUsbDeviceInterfaceClass;
}

std::string MakeUsbInstance(const std::string& serial, int bus, const std::vector<int>& ports) {
    std::string instance;
    if (!serial.empty()) {
        instance = serial;
    } else {
        instance = std::to_string(bus);
        for (size_t i = 0; i < ports.size(); ++i) {
            instance += (i == 0 ? '-' : '.');
            instance += std::to_string(ports[i]);
        }
    }
    for (char& c : instance) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '#' || c == '\\') c = '_';
    }
    return instance;
}

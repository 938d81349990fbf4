#include "links/usb_backend.h"

#include <cstdio>

#include "seams/text_scan.h"

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

namespace {

// Four hex digits at `at`; no value when there are not.
std::optional<uint16_t> HexWord(const std::string& text, size_t at) {
    if (at + 4 > text.size()) return std::nullopt;
    unsigned value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const int digit = textscan::HexDigitValue(text[i]);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<UsbDeviceInfo> UsbDeviceFromInterfacePath(const std::string& systemPath) {
    // "vid_" 4 digits "&pid_" 4 digits, then '#': 18 characters after the
    // first '#'.
    const size_t first = systemPath.find('#');
    if (first == std::string::npos) return std::nullopt;
    const size_t ids = first + 1;
    const auto at = [&](size_t offset, std::string_view key) {
        return ids + offset + key.size() <= systemPath.size() &&
               textscan::EqualNoCase(std::string_view(systemPath).substr(ids + offset, key.size()),
                                     key);
    };
    if (!at(0, "vid_") || !at(8, "&pid_") || !at(17, "#")) return std::nullopt;
    const std::optional<uint16_t> vendor = HexWord(systemPath, ids + 4);
    const std::optional<uint16_t> product = HexWord(systemPath, ids + 13);
    const size_t instanceStart = ids + 18;
    const size_t instanceEnd = systemPath.find('#', instanceStart);
    if (!vendor || !product || instanceEnd == std::string::npos || instanceEnd == instanceStart) {
        return std::nullopt;
    }
    UsbDeviceInfo device;
    device.vendorId = *vendor;
    device.productId = *product;
    device.devicePath = MakeUsbDevicePath(
        *vendor, *product,
        MakeUsbInstance(systemPath.substr(instanceStart, instanceEnd - instanceStart), 0, {}));
    return device;
}

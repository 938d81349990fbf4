#include "links/print_queues.h"

#include "links/usb_backend.h"
#include "links/usb_device_id.h"
#include "seams/text_scan.h"

namespace {

constexpr std::string_view kUsbScheme = "usb://";
constexpr std::string_view kSerialKey = "serial=";

// A '%' not followed by two hex digits is taken literally.
std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = textscan::HexDigitValue(text[i + 1]);
            const int low = textscan::HexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

using textscan::StartsWithNoCase;

}  // namespace

std::optional<std::string> UsbSerialFromDeviceUri(const std::string& uri) {
    if (!StartsWithNoCase(uri, kUsbScheme)) return std::nullopt;
    const size_t query = uri.find('?');
    if (query == std::string::npos) return std::nullopt;
    // Split on the raw '&' so an encoded "%26" inside the serial survives.
    std::string_view rest = std::string_view(uri).substr(query + 1);
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view parameter = rest.substr(0, amp);
        if (parameter.substr(0, kSerialKey.size()) == kSerialKey) {
            return PercentDecode(parameter.substr(kSerialKey.size()));
        }
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

std::string IPrintQueueSource::QueueOnDevice(const UsbDeviceInfo& device) {
    const std::string deviceSerial = PrintQueueSerial(device);
    if (deviceSerial.empty()) return {};
    for (const PrintQueue& queue : ListQueues()) {
        const std::optional<std::string> serial = UsbSerialFromDeviceUri(queue.deviceUri);
        if (serial && textscan::EqualNoCase(*serial, deviceSerial)) return queue.name;
    }
    return {};
}

#include "links/usb_device_id.h"

#include <array>

#include "links/usb_backend.h"
#include "seams/text_scan.h"

namespace {

constexpr int kLengthBytes = 2;
// In the order they are looked for: a printer that states more than one is
// named by the first.
constexpr std::array<std::string_view, 3> kSerialKeys = {"SERN", "SERIALNUMBER", "SN"};

using textscan::EqualNoCase;

std::optional<std::string_view> FieldValue(std::string_view deviceId, std::string_view key) {
    while (!deviceId.empty()) {
        const size_t end = deviceId.find(';');
        const std::string_view field = deviceId.substr(0, end);
        const size_t colon = field.find(':');
        if (colon != std::string_view::npos &&
            EqualNoCase(textscan::Trim(field.substr(0, colon)), key)) {
            return textscan::Trim(field.substr(colon + 1));
        }
        if (end == std::string_view::npos) break;
        deviceId.remove_prefix(end + 1);
    }
    return std::nullopt;
}

}  // namespace

std::string DeviceIdFromReply(const uint8_t* reply, int length) {
    if (reply == nullptr || length <= kLengthBytes) return {};
    const int bigEndian = reply[0] << 8 | reply[1];
    const int littleEndian = reply[1] << 8 | reply[0];
    int stated = bigEndian;
    if (stated < kLengthBytes || stated > length) stated = littleEndian;
    if (stated < kLengthBytes || stated > length) stated = length;
    std::string text(reinterpret_cast<const char*>(reply + kLengthBytes),
                     static_cast<size_t>(stated - kLengthBytes));
    // Some printers pad the ID with zero bytes; the text ends at the first.
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

std::optional<std::string> DeviceIdSerial(std::string_view deviceId) {
    for (std::string_view key : kSerialKeys) {
        const std::optional<std::string_view> value = FieldValue(deviceId, key);
        if (value && !value->empty()) return std::string(*value);
    }
    return std::nullopt;
}

std::string PrintQueueSerial(const UsbDeviceInfo& device) {
    return DeviceIdSerial(device.deviceId).value_or(device.serial);
}

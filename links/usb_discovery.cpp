#include "links/usb_discovery.h"

#include <cstdio>
#include <vector>

#include "seams/text_scan.h"

namespace tessaly {

namespace {

// "vid_vvvv&pid_" after the first '#': the product digits start here.
constexpr size_t kPidOffsetFromHash = 14;
constexpr size_t kPidDigits = 4;
constexpr size_t kVidDigits = 4;
constexpr const char* kVendorKey = "vid_";
constexpr const char* kProductKey = "pid_";

}  // namespace

std::string GetInstanceSegment(const std::string& devicePath) {
    const size_t first = devicePath.find('#');
    if (first == std::string::npos) return {};
    const size_t second = devicePath.find('#', first + 1);
    if (second == std::string::npos) return {};
    const size_t third = devicePath.find('#', second + 1);
    if (third == std::string::npos) return {};
    return devicePath.substr(second + 1, third - second - 1);
}

std::string GetPidText(const std::string& devicePath) {
    const size_t first = devicePath.find('#');
    if (first == std::string::npos) return {};
    const size_t start = first + kPidOffsetFromHash;
    if (start >= devicePath.size()) return {};
    return devicePath.substr(start, kPidDigits);
}

std::string MakerVendorFilterText() {
    char text[12];
    std::snprintf(text, sizeof text, "%s%04x", kVendorKey, kMakerUsbVendorId);
    return text;
}

std::optional<int32_t> ParseVendorId(const std::string& devicePath) {
    const size_t at = devicePath.find(kVendorKey);
    if (at == std::string::npos) return std::nullopt;
    int32_t value = 0;
    for (size_t i = at + 4; i < devicePath.size() && i < at + 4 + kVidDigits; ++i) {
        const int digit = textscan::HexDigitValue(devicePath[i]);
        if (digit < 0) break;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace tessaly

int CUsbDiscovery::DiscoverUsbPrinters(const std::string& productFilter) {
    using namespace tessaly;

    std::vector<UsbDeviceInfo> devices;
    if (!m_backend.Enumerate(devices)) return 0;

    const std::string vendorFilter = MakerVendorFilterText();
    const std::string productText = kProductKey + productFilter;
    bool anyOfMaker = false;
    std::vector<UsbDeviceInfo> printers;
    for (UsbDeviceInfo& device : devices) {
        if (device.devicePath.size() > kMaxUsbDevicePathChars) {
            device.devicePath.resize(kMaxUsbDevicePathChars);
        }
        // The vendor filter comes first, so hubs, keyboards and the like
        // never take one of the table's places from a printer.
        if (device.devicePath.find(vendorFilter) == std::string::npos) continue;
        anyOfMaker = true;
        if (device.devicePath.find(productText) == std::string::npos) continue;
        // The table has room for ten; further printers are not listed.
        if (printers.size() == static_cast<size_t>(kUsbPrinterTableSize)) break;
        printers.push_back(std::move(device));
    }
    if (!anyOfMaker || printers.empty()) return 0;

    for (size_t k = 0; k < printers.size(); ++k) {
        const UsbDeviceInfo& printer = printers[k];
        // A printer held by another program (or by this one's open link)
        // fails here, and the whole discovery with it.
        if (!m_backend.ProbeExclusive(printer.devicePath)) return 0;
        UsbPrinterEntry& entry = m_state.usbPrinterTable[k];
        entry.devicePath = printer.devicePath;
        entry.pidText = GetPidText(printer.devicePath);
        entry.printerName = FindInstalledPrinterName(printer);
        entry.instanceSegment = GetInstanceSegment(printer.devicePath);
        m_state.usbPrinterLastIndex = static_cast<int32_t>(k);
    }
    return 1;
}

std::string CUsbDiscovery::FindInstalledPrinterName(const UsbDeviceInfo& device) {
    return m_queues.QueueOnDevice(device);
}

#include "links/registry_print_queues.h"

#include <optional>

#include "links/usb_backend.h"
#include "links/usb_discovery.h"

namespace {

// "vid_vvvv&pid_pppp" after the first '#' of a device path.
constexpr size_t kVendorAndProductChars = 17;

std::string UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

std::vector<PrintQueue> CRegistryPrintQueues::ListQueues() {
    std::vector<PrintQueue> queues;
    if (!m_registry) return queues;
    for (std::string& name : m_registry->SubkeyNames(kPrintersKey, kMaxNameBytes)
                                 .value_or(std::vector<std::string>())) {
        queues.push_back({std::move(name), ""});
    }
    return queues;
}

std::string CRegistryPrintQueues::QueueOnDevice(const UsbDeviceInfo& device) {
    return FindInstalledPrinterName(device.devicePath);
}

std::string CRegistryPrintQueues::FindInstalledPrinterName(const std::string& devicePath) {
    if (!m_registry) return {};
    const size_t hash = devicePath.find('#');
    if (hash == std::string::npos) return {};
    const std::string vendorAndProduct = devicePath.substr(hash + 1, kVendorAndProductChars);
    const std::string deviceKey =
        kUsbEnumKey + vendorAndProduct + "\\" + tessaly::GetInstanceSegment(devicePath);
    const std::optional<std::string> prefix =
        m_registry->ReadText(deviceKey, "parentIdPrefix", kMaxValueBytes);
    // Without a prefix there is nothing to pair by: an empty one would be
    // found in every queue's instance, and the first printer of any kind
    // would be shown as installed on this device.
    if (!prefix || prefix->empty()) return {};
    const std::string wanted = UpperCase(*prefix);

    const std::optional<std::vector<std::string>> printers =
        m_registry->SubkeyNames(kPrintersKey, kMaxNameBytes);
    if (!printers) return {};
    for (const std::string& name : *printers) {
        const std::optional<std::string> instance =
            m_registry->ReadText(std::string(kPrintersKey) + "\\" + name + "\\PnPData",
                                 "DeviceInstanceId", kMaxValueBytes);
        // A queue without a readable instance is passed over.
        if (instance && instance->find(wanted) != std::string::npos) return name;
    }
    return {};
}

#pragma once

#include <memory>
#include <string>
#include <vector>

#include "links/print_queues.h"
#include "seams/registry.h"

// The Windows printers as the registry holds them, each paired with its USB
// device the way Windows links them: a print queue's
// "PnPData\DeviceInstanceId" names the printer function created below the
// USB device, and that identifier contains the device's "parentIdPrefix" in
// upper case.
class CRegistryPrintQueues : public IPrintQueueSource {
public:
    static constexpr const char* kUsbEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
    static constexpr const char* kPrintersKey =
        "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
    static constexpr size_t kMaxValueBytes = 256;
    static constexpr size_t kMaxNameBytes = 256;

    explicit CRegistryPrintQueues(std::shared_ptr<IRegistry> registry)
        : m_registry(std::move(registry)) {}

    // The printers' names in the registry's order (no device URIs here).
    std::vector<PrintQueue> ListQueues() override;
    std::string QueueOnDevice(const UsbDeviceInfo& device) override;

    // The first printer, in the registry's order, whose device instance
    // contains the device's prefix; empty when none does, when the printers
    // cannot be listed, or when the device has no prefix to look for.
    std::string FindInstalledPrinterName(const std::string& devicePath);

private:
    std::shared_ptr<IRegistry> m_registry;
};

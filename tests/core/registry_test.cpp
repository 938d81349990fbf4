// What the Windows build reads from the registry, against a scripted
// registry: the print queue installed on a USB device.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links/registry_print_queues.h"
#include "links/usb_backend.h"
#include "links/usb_discovery.h"
#include "support/fake_registry.h"

namespace {

const std::string kPrinters = CRegistryPrintQueues::kPrintersKey;

// A printer queue whose device instance is `instance`; none when empty.
void AddQueue(FakeRegistry& registry, const std::string& name, const std::string& instance) {
    if (instance.empty()) {
        registry.AddKey(kPrinters + "\\" + name);
    } else {
        registry.Set(kPrinters + "\\" + name + "\\PnPData", "DeviceInstanceId", instance);
    }
}

TEST(RegistryPrintQueues, PairsTheDeviceByItsParentIdPrefix) {
    const std::string path = MakeUsbDevicePath(kMakerUsbVendorId, 0x8801, "A12345");
    const std::string deviceKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_3c7a&pid_8801\\A12345";

    auto registry = std::make_shared<FakeRegistry>();
    registry->Set(deviceKey, "parentIdPrefix", "6&1a2b3c&0");
    // In the registry's order: one without PnPData, one on another device,
    // then two on this one (the prefix stands there in upper case).
    AddQueue(*registry, "Broken Queue", "");
    AddQueue(*registry, "Office Laser", "USBPRINT\\LASER\\7&FFFF&0&USB002");
    AddQueue(*registry, "Card Printer", "USBPRINT\\VELMORACARD\\6&1A2B3C&0&USB001");
    AddQueue(*registry, "Card Printer (Copy 1)", "USBPRINT\\VELMORACARD\\6&1A2B3C&0&USB001");
    CRegistryPrintQueues queues(registry);

    EXPECT_EQ(queues.FindInstalledPrinterName(path), "Card Printer");
    // The device's own key, named by the 17 characters after the first '#'
    // and the instance segment.
    EXPECT_EQ(registry->reads.front(), deviceKey + "|parentIdPrefix");
    UsbDeviceInfo device;
    device.devicePath = path;
    EXPECT_EQ(queues.QueueOnDevice(device), "Card Printer");

    std::vector<std::string> names;
    for (const PrintQueue& queue : queues.ListQueues()) names.push_back(queue.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Broken Queue", "Office Laser", "Card Printer",
                                               "Card Printer (Copy 1)"}));

    // Another device of the maker, with no queue on it.
    const std::string other = MakeUsbDevicePath(kMakerUsbVendorId, 0x9001, "B777");
    registry->Set("SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_3c7a&pid_9001\\B777", "parentIdPrefix",
                  "6&99&0");
    EXPECT_EQ(queues.FindInstalledPrinterName(other), "");
}

TEST(RegistryPrintQueues, NothingToPairByGivesNoQueue) {
    const std::string path = MakeUsbDevicePath(kMakerUsbVendorId, 0x8801, "A12345");
    const std::string deviceKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_3c7a&pid_8801\\A12345";
    struct Case {
        const char* what;
        std::optional<std::string> prefix;  // none: the device has no key
        bool printersLocked;
    };
    const Case cases[] = {
        // An empty prefix is found in every instance: the laser printer
        // would be shown as installed on the card printer.
        {"no parentIdPrefix", std::nullopt, false},
        {"empty parentIdPrefix", "", false},
        {"printers key cannot be opened", "6&1a2b3c&0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto registry = std::make_shared<FakeRegistry>();
        if (c.prefix) registry->Set(deviceKey, "parentIdPrefix", *c.prefix);
        AddQueue(*registry, "Office Laser", "USBPRINT\\LASER\\6&1A2B3C&0&USB002");
        if (c.printersLocked) registry->Lock(kPrinters);
        EXPECT_EQ(CRegistryPrintQueues(registry).FindInstalledPrinterName(path), "");
    }
    // A path of another form reads nothing.
    auto registry = std::make_shared<FakeRegistry>();
    EXPECT_EQ(CRegistryPrintQueues(registry).FindInstalledPrinterName("no hash here"), "");
    EXPECT_TRUE(registry->reads.empty());
}

TEST(UsbInterfacePath, TheSystemsPathBecomesTheProgramsForm) {
    const std::string classGuid = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    struct Row {
        std::string system;
        std::optional<std::string> path;
    };
    const Row rows[] = {
        {"\\\\?\\usb#vid_3c7a&pid_8801#A12345#" + classGuid,
         MakeUsbDevicePath(0x3c7a, 0x8801, "A12345")},
        // Upper-case IDs and class, as some systems give them.
        {"\\\\?\\USB#VID_3C7A&PID_880A#a12345#{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
         MakeUsbDevicePath(0x3c7a, 0x880a, "a12345")},
        // A device without a serial number: the system's instance, kept.
        {"\\\\?\\usb#vid_046d&pid_c52b#5&2a3b&0&2#" + classGuid,
         MakeUsbDevicePath(0x046d, 0xc52b, "5&2a3b&0&2")},
        // Functions of a composite device and broken paths are not devices.
        {"\\\\?\\usb#vid_3c7a&pid_8801&mi_00#6&1a&0&0000#" + classGuid, std::nullopt},
        {"\\\\?\\usb#vid_3c7a&pid_88#A1#" + classGuid, std::nullopt},
        {"\\\\?\\usb#vid_3c7a&pid_8801##" + classGuid, std::nullopt},
        {"\\\\?\\usb#vid_3c7a&pid_8801#A12345", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.system);
        const std::optional<UsbDeviceInfo> device = UsbDeviceFromInterfacePath(row.system);
        ASSERT_EQ(device.has_value(), row.path.has_value());
        if (!device) continue;
        EXPECT_EQ(device->devicePath, *row.path);
        EXPECT_EQ(MakeUsbDevicePath(device->vendorId, device->productId,
                                    tessaly::GetInstanceSegment(*row.path)),
                  *row.path);
    }
}

}  // namespace

// What the Windows build keeps in and reads from the registry, against a
// scripted registry: the print queue installed on a USB device, and the
// saved firmware path. Also the settings file that holds that path on Linux.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "links/registry_print_queues.h"
#include "links/usb_backend.h"
#include "links/usb_discovery.h"
#include "seams/firmware_path.h"
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

// --- the saved firmware path ---------------------------------------------------------

TEST(FirmwarePathStore, RegistryFirstRunSeedsTheDefault) {
    auto registry = std::make_shared<FakeRegistry>();
    CRegistryFirmwarePathStore store(registry);
    EXPECT_EQ(firmware_path::LoadOrSeed(store, "C:\\coldfire.cfa"), "");
    EXPECT_EQ(registry->ReadText("SOFTWARE\\Corvane Ltd\\Tessaly", "Path", 1024),
              "C:\\coldfire.cfa");
    EXPECT_EQ(firmware_path::LoadOrSeed(store, "C:\\coldfire.cfa"), "C:\\coldfire.cfa");

    EXPECT_TRUE(store.Write("d:\\fw\\new.cfe"));
    EXPECT_EQ(store.Read(), "d:\\fw\\new.cfe");

    // A key that cannot be created: nothing stored, the empty path.
    auto locked = std::make_shared<FakeRegistry>();
    locked->Lock("SOFTWARE\\Corvane Ltd\\Tessaly");
    CRegistryFirmwarePathStore lockedStore(locked);
    EXPECT_FALSE(lockedStore.Write("x.cfa"));
    EXPECT_EQ(firmware_path::LoadOrSeed(lockedStore, "C:\\coldfire.cfa"), "");
}

// The settings file as the window's settings write it.
TEST(FirmwarePathStore, IniValuesRoundTripInTheSettingsForm) {
    struct Row {
        std::string path;
        std::string stored;
    };
    const Row rows[] = {
        {"/home/ann/coldfire.cfa", "/home/ann/coldfire.cfa"},
        {"C:\\fw\\A.cfa", "C:\\\\fw\\\\A.cfa"},
        {"/fw/a,b;c=d.cfa", "\"/fw/a,b;c=d.cfa\""},
        {" lead.cfa", "\" lead.cfa\""},
        {"/fw/\"q\".cfa", "/fw/\\\"q\\\".cfa"},
        {"/fw/tab\there", "/fw/tab\\there"},
        {"/fw/\x01"
         "1.cfa",
         "/fw/\\x1\\x31.cfa"},
        {"@home/x.cfa", "@@home/x.cfa"},
        {"/fw/gr\xc3\xbc\xc3\x9f.cfa", "/fw/gr\xc3\xbc\xc3\x9f.cfa"},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(EscapeIniText(row.path), row.stored);
        EXPECT_EQ(UnescapeIniText(row.stored), row.path);
    }
    // Written by hand or by other settings: lists and typed values are no
    // path; blanks outside quotes go.
    EXPECT_EQ(UnescapeIniText("a.cfa, b.cfa"), std::nullopt);
    EXPECT_EQ(UnescapeIniText("@ByteArray(x.cfa)"), std::nullopt);
    EXPECT_EQ(UnescapeIniText("@Invalid()"), std::nullopt);
    EXPECT_EQ(UnescapeIniText("  /fw/x.cfa  "), "/fw/x.cfa");
    EXPECT_EQ(UnescapeIniText("\\x41\\102.cfa"), "AB.cfa");
}

TEST(FirmwarePathStore, IniFileKeepsTheRestOfTheSettings) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "tessaly-ini-store";
    fs::remove_all(folder);
    const fs::path file = folder / "Corvane Ltd" / "Tessaly.conf";
    CIniFirmwarePathStore store(file.string());

    // First run: no file yet.
    EXPECT_EQ(firmware_path::LoadOrSeed(store, "/home/ann/coldfire.cfa"), "");
    EXPECT_EQ(store.Read(), "/home/ann/coldfire.cfa");

    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "[Window]\ngeometry=@ByteArray(x)\n\n[General]\nOther=1\nPath=/old.cfa\n";
    }
    EXPECT_EQ(store.Read(), "/old.cfa");
    EXPECT_TRUE(store.Write("/fw/new,1.cfa"));
    EXPECT_EQ(store.Read(), "/fw/new,1.cfa");
    std::stringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(),
              "[Window]\ngeometry=@ByteArray(x)\n\n[General]\nOther=1\nPath=\"/fw/new,1.cfa\"\n");
    fs::remove_all(folder);
}

}  // namespace

// USB discovery over the simulated backend, the print-queue match, and the
// lines of the selection dialog.

#include "links/usb_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links/program_state.h"
#include "links/usb_device_id.h"
#include "links/usb_selection.h"
#include "sim/sim_usb_backend.h"
#include "support/fake_host.h"

namespace {

using tessaly::UsbPrinterEntry;

class UsbState : public ::testing::Test {
protected:
    tessaly::ProgramState state;
};

// --- the device path form -----------------------------------------------------

TEST(UsbDevicePath, TakesTheWindowsFormWithLowerCaseHex) {
    EXPECT_EQ(MakeUsbDevicePath(0x3C7A, 0x880A, "A12345"),
              "\\\\?\\usb#vid_3c7a&pid_880a#A12345#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_EQ(MakeUsbInstance("", 3, {1, 4}), "3-1.4");
    EXPECT_EQ(MakeUsbInstance("", 2, {}), "2");
    // A '#' in a serial number would move the segment boundaries.
    EXPECT_EQ(MakeUsbInstance("AB#1 2\\", 1, {1}), "AB_1_2_");
}

TEST(UsbDevicePath, PartsAreReadBackFromThePath) {
    const std::string path = MakeUsbDevicePath(kMakerUsbVendorId, 0x8801, "A12345");
    EXPECT_EQ(tessaly::GetPidText(path), "8801");
    EXPECT_EQ(tessaly::GetInstanceSegment(path), "A12345");
    EXPECT_EQ(tessaly::ParseVendorId(path), kMakerUsbVendorId);
    EXPECT_EQ(tessaly::MakerVendorFilterText(), "vid_3c7a");

    // Truncated or foreign paths give bounded results, never a crash.
    EXPECT_EQ(tessaly::GetInstanceSegment("\\\\?\\usb#vid_3c7a&pid_8801#A1"), "");
    EXPECT_EQ(tessaly::GetInstanceSegment(""), "");
    EXPECT_EQ(tessaly::GetPidText("ab#vid_3c7a&pid_88"), "88");
    EXPECT_EQ(tessaly::GetPidText("no hash"), "");
    EXPECT_EQ(tessaly::ParseVendorId("x#vid_12g4"), 0x12);
    EXPECT_FALSE(tessaly::ParseVendorId("x#pid_1234").has_value());
}

// --- print queues ---------------------------------------------------------------

TEST(UsbPrintQueues, SerialIsTakenFromUsbDeviceUris) {
    struct Row {
        const char* uri;
        std::optional<std::string> serial;
    };
    const Row rows[] = {
        {"usb://Velmora/VERITONE?serial=A12345", "A12345"},
        {"usb://Velmora/VERITONE?serial=A12345&interface=1", "A12345"},
        {"usb://Velmora/VERITONE?interface=1&serial=B7", "B7"},
        {"USB://Velmora/VERITONE?serial=c%2d9%26x", "c-9&x"},
        {"usb://Velmora/VERITONE?serial=50%zz", "50%zz"},
        {"usb://Velmora/VERITONE?serial=", ""},
        {"usb://Velmora/VERITONE", std::nullopt},
        {"usb://Velmora/VERITONE?interface=0", std::nullopt},
        {"ipp://printer.local/ipp/print?serial=A12345", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(UsbSerialFromDeviceUri(row.uri), row.serial) << row.uri;
    }
}

TEST(UsbPrintQueues, FirstQueueOnTheDeviceWinsRegardlessOfCase) {
    CSimUsbBackend usb;
    usb.extraQueues = {
        {"Office", "ipp://10.0.0.9/ipp/print"},
        {"Other card printer", "usb://Velmora/VERITONE?serial=Z999"},
        {"Front desk", "usb://Velmora/VERITONE?serial=a12345&interface=1"},
        {"Back office", "usb://Velmora/VERITONE?serial=A12345"},
    };
    tessaly::ProgramState state;
    CUsbDiscovery discovery(usb, usb, state);
    UsbDeviceInfo device{"", kMakerUsbVendorId, 0x8801, "A12345", ""};
    EXPECT_EQ(discovery.FindInstalledPrinterName(device), "Front desk");

    device.serial = "NOPE";
    EXPECT_EQ(discovery.FindInstalledPrinterName(device), "");
    // Without a serial number nothing ties a queue to the device, not even a
    // queue whose URI has an empty serial.
    usb.extraQueues.push_back({"Blank", "usb://Velmora/VERITONE?serial="});
    device.serial.clear();
    EXPECT_EQ(discovery.FindInstalledPrinterName(device), "");
}

// The printing system names a queue by the serial number the printer's
// device ID states, and by its USB serial-number string only without one.
TEST(UsbPrintQueues, TheDeviceIdSerialNamesTheQueueWhereThereIsOne) {
    struct Row {
        const char* deviceId;
        const char* serial;  // the USB serial-number string
        const char* queue;   // the queue found
    };
    const Row rows[] = {
        {"MFG:Velmora;MDL:VERITONE;SERN:DEV42;", "USB7", "By device ID"},
        {"MFG:Velmora;SERIALNUMBER: DEV42 ;", "USB7", "By device ID"},
        {"mfg:Velmora;sn:dev42", "", "By device ID"},
        {"SN:USB7;SERN:DEV42;", "", "By device ID"},  // SERN first, in any order
        {"MFG:Velmora;SERN:;DESN:DEV42;", "USB7", "By USB serial"},
        {"MFG:Velmora;", "", ""},
    };
    CSimUsbBackend usb;
    usb.extraQueues = {
        {"By USB serial", "usb://Velmora/VERITONE?serial=USB7"},
        {"By device ID", "usb://Velmora/VERITONE?serial=DEV42"},
    };
    tessaly::ProgramState state;
    CUsbDiscovery discovery(usb, usb, state);
    for (const Row& row : rows) {
        const UsbDeviceInfo device{"", kMakerUsbVendorId, 0x8801, row.serial, row.deviceId};
        EXPECT_EQ(discovery.FindInstalledPrinterName(device), row.queue) << row.deviceId;
    }

    // The reply of the request: two length bytes (big-endian, counting
    // themselves), then the text; little-endian and overlong lengths occur.
    const auto reply = [](std::string bytes) {
        return DeviceIdFromReply(reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<int>(bytes.size()));
    };
    EXPECT_EQ(reply(std::string("\0\x0cSERN:A1;xyz", 13)), "SERN:A1;xy");
    EXPECT_EQ(reply(std::string("\x0c\0SERN:A1;xyz", 13)), "SERN:A1;xy");
    EXPECT_EQ(reply(std::string("\x7f\x7fSN:B2;\0\0", 10)), "SN:B2;");
    EXPECT_EQ(reply(std::string("\0\x02", 2)), "");
}

// --- discovery ------------------------------------------------------------------

SimUsbDevice Printer(uint16_t pid, std::string serial, std::string queue = "") {
    SimUsbDevice device;
    device.productId = pid;
    device.serial = std::move(serial);
    device.queueName = std::move(queue);
    device.printer = std::make_shared<CSimPrinter>();
    return device;
}

SimUsbDevice OtherVendor(uint16_t vid, uint16_t pid) {
    SimUsbDevice device;
    device.vendorId = vid;
    device.productId = pid;
    return device;
}

using UsbDiscovery = UsbState;

TEST_F(UsbDiscovery, TwoPrintersOneWithAQueue) {
    CSimUsbBackend usb;
    const std::string first = usb.AddDevice(Printer(0x8801, "A12345", "Card Printer"));
    const std::string second = usb.AddDevice(Printer(0x9001, "B777"));
    CUsbDiscovery discovery(usb, usb, state);

    ASSERT_EQ(discovery.DiscoverUsbPrinters(""), 1);
    EXPECT_EQ(state.usbPrinterLastIndex, 1);
    EXPECT_EQ(state.usbPrinterTable[0].devicePath, first);
    EXPECT_EQ(state.usbPrinterTable[0].pidText, "8801");
    EXPECT_EQ(state.usbPrinterTable[0].instanceSegment, "A12345");
    EXPECT_EQ(state.usbPrinterTable[0].printerName, "Card Printer");
    EXPECT_EQ(state.usbPrinterTable[1].devicePath, second);
    EXPECT_EQ(state.usbPrinterTable[1].pidText, "9001");
    EXPECT_EQ(state.usbPrinterTable[1].printerName, "");
    EXPECT_EQ(usb.probes, (std::vector<std::string>{first, second}));
}

TEST_F(UsbDiscovery, BusyPrinterFailsTheWholeDiscovery) {
    CSimUsbBackend usb;
    usb.AddDevice(Printer(0x8801, "A1"));
    usb.AddDevice(Printer(0x8802, "A2"));
    usb.Device(1).busy = true;
    state.usbPrinterTable[1].pidText = "left";
    CUsbDiscovery discovery(usb, usb, state);

    EXPECT_EQ(discovery.DiscoverUsbPrinters(""), 0);
    // What was filled before the busy one stays; the rest is untouched.
    EXPECT_EQ(state.usbPrinterTable[0].pidText, "8801");
    EXPECT_EQ(state.usbPrinterLastIndex, 0);
    EXPECT_EQ(state.usbPrinterTable[1].pidText, "left");
}

TEST_F(UsbDiscovery, OnlyTheMakersDevicesAndTheProductFilterCount) {
    CSimUsbBackend usb;
    usb.AddDevice(OtherVendor(0x1d6b, 0x0002));  // a root hub
    usb.AddDevice(OtherVendor(0x3c7b, 0x8801));  // a neighbour's vendor ID
    const std::string veritone = usb.AddDevice(Printer(0x8801, "V1"));
    const std::string warden = usb.AddDevice(Printer(0x9001, "W1"));
    CUsbDiscovery discovery(usb, usb, state);

    ASSERT_EQ(discovery.DiscoverUsbPrinters(""), 1);
    EXPECT_EQ(state.usbPrinterLastIndex, 1);
    EXPECT_EQ(state.usbPrinterTable[0].devicePath, veritone);
    EXPECT_EQ(state.usbPrinterTable[1].devicePath, warden);

    ASSERT_EQ(discovery.DiscoverUsbPrinters("9001"), 1);
    EXPECT_EQ(state.usbPrinterLastIndex, 0);
    EXPECT_EQ(state.usbPrinterTable[0].devicePath, warden);
    // The second entry keeps what the earlier discovery left.
    EXPECT_EQ(state.usbPrinterTable[1].devicePath, warden);

    EXPECT_EQ(discovery.DiscoverUsbPrinters("4800"), 0);
}

TEST_F(UsbDiscovery, FailsWithoutTheMakersDevicesOrAList) {
    CSimUsbBackend usb;
    EXPECT_EQ(CUsbDiscovery(usb, usb, state).DiscoverUsbPrinters(""), 0);
    usb.AddDevice(OtherVendor(0x046d, 0xc52b));
    EXPECT_EQ(CUsbDiscovery(usb, usb, state).DiscoverUsbPrinters(""), 0);
    usb.AddDevice(Printer(0x8801, "A1"));
    usb.enumerationFails = true;
    EXPECT_EQ(CUsbDiscovery(usb, usb, state).DiscoverUsbPrinters(""), 0);
    EXPECT_TRUE(usb.probes.empty());
}

TEST_F(UsbDiscovery, KeepsTheFirstTenPrinters) {
    CSimUsbBackend usb;
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) {
        usb.AddDevice(OtherVendor(0x8087, static_cast<uint16_t>(i)));
        paths.push_back(usb.AddDevice(Printer(0x8801, "S" + std::to_string(i))));
    }
    ASSERT_EQ(CUsbDiscovery(usb, usb, state).DiscoverUsbPrinters(""), 1);
    EXPECT_EQ(state.usbPrinterLastIndex, 9);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(state.usbPrinterTable[i].devicePath, paths[i]);
    EXPECT_EQ(usb.probes.size(), 10u);
}

// --- selection lines ----------------------------------------------------------------

using UsbSelectionLabel = UsbState;

TEST_F(UsbSelectionLabel, BuildsTheLineFromTheModelTable) {
    struct Row {
        UsbPrinterEntry entry;
        std::string line;
        std::string oemModel;  // after the line was built, starting from "before"
    };
    const Row rows[] = {
        {{"8801", "p", "", ""}, "VERITONE (not installed)   PID : 8801", "VERITONE"},
        {{"8801", "p", "Card Printer", ""}, "Card Printer   PID : 8801", "VERITONE"},
        {{"1000", "p", "", "A12345"},
         "Velmora Kestrel 1 / Marlin 1 (not installed)   A12345    PID : 1000",
         "before"},
        {{"1000", "p", "Desk", "A12345"}, "Desk   A12345    PID : 1000", "before"},
        {{"2000", "p", "", "X"},
         "Velmora Quill / Sable / Wren (old)(not installed)   X    PID : 2000",
         "before"},
        {{"9003", "p", "", "X"}, "Veritone Pro (not installed)   PID : 9003", "Veritone Pro"},
        {{"880a", "p", "", "X"}, "", "before"},
        {{"", "p", "", ""}, "", "before"},
        {{"abcd", "p", "Queue", ""}, "", "before"},
    };
    for (const Row& row : rows) {
        state.oemModelName = "before";
        EXPECT_EQ(BuildUsbPrinterLabel(row.entry, state), row.line) << row.entry.pidText;
        EXPECT_EQ(state.oemModelName, row.oemModel) << row.entry.pidText;
    }
}

TEST_F(UsbSelectionLabel, PrepareListsEveryEntryAndTheLastModelNameStays) {
    CSimUsbBackend usb;
    usb.AddDevice(Printer(0x8801, "A1"));
    usb.AddDevice(Printer(0x9001, "B1", "Front desk"));
    CUsbDiscovery discovery(usb, usb, state);
    FakeHost host;

    const UsbSelectionLines shown = PrepareUsbSelection(discovery, host);
    EXPECT_TRUE(shown.discovered);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(shown.lines, (std::vector<std::string>{"VERITONE (not installed)   PID : 8801",
                                                     "Front desk   PID : 9001"}));
    EXPECT_EQ(state.oemModelName, "WARDEN");

    // OK on the first line still leaves the last line's model name.
    ConfirmUsbSelection(state, 0);
    EXPECT_EQ(state.selectedUsbDevicePath, usb.PathOf(0));
    EXPECT_EQ(state.oemModelName, "WARDEN");
}

TEST_F(UsbSelectionLabel, FailedDiscoveryIsReportedAndTheTableStillListed) {
    CSimUsbBackend usb;
    usb.AddDevice(Printer(0x1000, "LONGSERIAL0001"));
    CUsbDiscovery discovery(usb, usb, state);
    FakeHost host;
    const UsbSelectionLines found = PrepareUsbSelection(discovery, host);
    ASSERT_TRUE(found.discovered);
    ASSERT_EQ(found.lines.size(), 1u);

    usb.Device(0).busy = true;
    const UsbSelectionLines failed = PrepareUsbSelection(discovery, host);
    EXPECT_FALSE(failed.discovered);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Enumeration Failed, Connecting to First Available Device");
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(failed.lines, found.lines);
}

TEST_F(UsbSelectionLabel, ConfirmingNoListedLineKeepsTheSelection) {
    state.usbPrinterTable[0].devicePath = "first";
    state.usbPrinterTable[1].devicePath = "second";
    state.usbPrinterTable[2].devicePath = "stale";
    state.usbPrinterLastIndex = 1;
    state.selectedUsbDevicePath = "kept";
    for (int index : {-1, 2, 10, 1000}) {
        ConfirmUsbSelection(state, index);
        EXPECT_EQ(state.selectedUsbDevicePath, "kept") << index;
    }
    ConfirmUsbSelection(state, 1);
    EXPECT_EQ(state.selectedUsbDevicePath, "second");
}

}  // namespace

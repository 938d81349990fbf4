// What the USB side reads from the system: device paths of any vendor and
// shape, serial numbers, print queues and their device URIs. Runs discovery
// and the selection lines over them, and the path builders round trip.
//
// Input: device count, then per device a flags byte, its path and serial
// (length-prefixed); queue count, then per queue its name and URI; the
// product filter; then a serial, a bus and ports for the instance builder.

#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "links/print_queues.h"
#include "links/program_state.h"
#include "links/usb_backend.h"
#include "links/usb_discovery.h"
#include "links/usb_selection.h"

namespace {

class ListedBackend : public IUsbBackend {
public:
    std::vector<UsbDeviceInfo> devices;
    std::vector<std::string> busy;  // paths that cannot be opened exclusively
    bool listable = true;

    bool Enumerate(std::vector<UsbDeviceInfo>& out) override {
        out = devices;
        return listable;
    }
    bool CanOpen(const std::string&) override { return true; }
    bool ProbeExclusive(const std::string& path) override {
        return std::find(busy.begin(), busy.end(), path) == busy.end();
    }
    std::unique_ptr<IUsbPipe> OpenPipe(const std::string&, UsbPipeKind) override { return nullptr; }
};

class ListedQueues : public IPrintQueueSource {
public:
    std::vector<PrintQueue> queues;
    std::vector<PrintQueue> ListQueues() override { return queues; }
};

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessaly;
    FuzzInput in(data, size);
    ProgramState state;

    ListedBackend backend;
    ListedQueues queues;
    const int deviceCount = in.Range(0, 14);
    for (int i = 0; i < deviceCount; ++i) {
        const uint8_t flags = in.Byte();
        UsbDeviceInfo device;
        // Most paths in the form the system gives, with fuzzed ids and
        // instance; some wholly fuzzed.
        if (flags & 1) {
            const uint16_t product = in.Word();
            const uint16_t vendor = (flags & 2) ? kMakerUsbVendorId : in.Word();
            device.devicePath = MakeUsbDevicePath(vendor, product, in.Bytes(in.Range(0, 300)));
        } else {
            device.devicePath = in.Bytes(in.Range(0, 400));
        }
        device.serial = in.Bytes(in.Range(0, 40));
        if (flags & 4) backend.busy.push_back(device.devicePath);
        backend.devices.push_back(std::move(device));
    }
    backend.listable = in.Byte() != 0xFF;
    const int queueCount = in.Range(0, 6);
    for (int i = 0; i < queueCount; ++i) {
        PrintQueue queue;
        queue.name = in.Bytes(in.Range(0, 40));
        queue.deviceUri = in.Bytes(in.Range(0, 120));
        queues.queues.push_back(queue);
    }
    const std::string filter = in.Bytes(in.Range(0, 6));

    CUsbDiscovery discovery(backend, queues, state);
    const int found = discovery.DiscoverUsbPrinters(filter);
    FUZZ_CHECK(found == 0 || found == 1);
    FUZZ_CHECK(state.usbPrinterLastIndex >= 0 && state.usbPrinterLastIndex < kUsbPrinterTableSize);
    for (int i = 0; i <= state.usbPrinterLastIndex; ++i) {
        const UsbPrinterEntry& entry = state.usbPrinterTable[static_cast<size_t>(i)];
        FUZZ_CHECK(entry.devicePath.size() <= kMaxUsbDevicePathChars);
        FUZZ_CHECK(entry.pidText.size() <= 4);
        FUZZ_CHECK(entry.instanceSegment.find('#') == std::string::npos);
        if (found) {
            FUZZ_CHECK(entry.devicePath.find(MakerVendorFilterText()) != std::string::npos);
            FUZZ_CHECK(entry.devicePath.find("pid_" + filter) != std::string::npos);
        }
        const std::string line = BuildUsbPrinterLabel(entry, state);
        if (!line.empty()) {
            const std::string tail = "PID : " + entry.pidText;
            FUZZ_CHECK(line.size() >= tail.size() &&
                       line.compare(line.size() - tail.size(), tail.size(), tail) == 0);
        }
    }

    FakeHost host{MsgResult::Cancel};
    const UsbSelectionLines lines = PrepareUsbSelection(discovery, host);
    FUZZ_CHECK(lines.lines.size() == static_cast<size_t>(state.usbPrinterLastIndex) + 1);
    FUZZ_CHECK(host.boxes.size() == (lines.discovered ? 0u : 1u));
    const int pick = in.Range(-2, kUsbPrinterTableSize + 1);
    ConfirmUsbSelection(state, pick);
    if (pick >= 0 && pick <= state.usbPrinterLastIndex) {
        FUZZ_CHECK(state.selectedUsbDevicePath ==
                   state.usbPrinterTable[static_cast<size_t>(pick)].devicePath);
    }

    for (const PrintQueue& queue : queues.queues) {
        const std::optional<std::string> serial = UsbSerialFromDeviceUri(queue.deviceUri);
        if (serial) FUZZ_CHECK(serial->size() <= queue.deviceUri.size());
    }
    for (const UsbDeviceInfo& device : backend.devices) {
        const std::optional<int32_t> vendor = ParseVendorId(device.devicePath);
        if (vendor) FUZZ_CHECK(*vendor >= 0 && *vendor <= 0xFFFF);
        FUZZ_CHECK(GetPidText(device.devicePath).size() <= 4);
    }

    // The builders and the parsers agree on the path form.
    const std::string serial = in.Bytes(in.Range(0, 64));
    const int bus = in.Range(0, 300);
    std::vector<int> ports;
    for (int i = in.Range(0, 7); i > 0; --i) ports.push_back(in.Range(0, 300));
    const std::string instance = MakeUsbInstance(serial, bus, ports);
    for (char c : instance) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte > 0x20 && byte < 0x7F && c != '#' && c != '\\');
    }
    const uint16_t vendor = in.Word();
    const uint16_t product = in.Word();
    const std::string path = MakeUsbDevicePath(vendor, product, instance);
    FUZZ_CHECK(GetInstanceSegment(path) == instance);
    FUZZ_CHECK(GetPidText(path) == Hex4(product));
    FUZZ_CHECK(ParseVendorId(path) == static_cast<int32_t>(vendor));
    return 0;
}

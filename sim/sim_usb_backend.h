#pragma once

#include <memory>
#include <string>
#include <vector>

#include "links/print_queues.h"
#include "links/usb_backend.h"
#include "sim/sim_printer.h"

// One simulated USB device.
struct SimUsbDevice {
    uint16_t vendorId = kMakerUsbVendorId;
    uint16_t productId = 0x8801;
    // Empty: no serial number; the path then names bus and port.
    std::string serial;
    // The IEEE 1284 device ID the printer reports; empty when it gives none.
    std::string deviceId;
    int bus = 1;
    std::vector<int> ports{1};
    // The print queue installed on it; empty when none.
    std::string queueName;
    // The printer behind the pipes; none for devices that are not printers
    // (their pipes cannot be opened).
    std::shared_ptr<CSimPrinter> printer;
    // Held by another program: the exclusive probe and the pipes fail, a
    // shared open still works.
    bool busy = false;
    // Reads always time out, whatever the printer queued.
    bool neverAnswers = false;
    // A read that moves bytes reports a failure all the same, as a device
    // unplugged in the middle of the transfer does.
    bool readFailsWithData = false;
    // The pipe of that kind cannot be opened.
    bool writePipeFails = false;
    bool readPipeFails = false;
    // Bytes one bulk write takes: negative takes all, 0 takes none.
    int bytesPerWrite = -1;
    // The device cannot even be opened for the presence check.
    bool unopenable = false;
};

// The machine's USB with simulated devices, and the print queues installed
// on them as the printing service would list them ("usb://" URIs naming each
// device by the serial number its device ID states, else by its USB one). Records what the link
// does to it.
class CSimUsbBackend : public IUsbBackend, public IPrintQueueSource {
public:
    // Adds a device; returns its path.
    std::string AddDevice(SimUsbDevice device);
    SimUsbDevice& Device(size_t index);
    const std::string& PathOf(size_t index) const;
    size_t DeviceCount() const { return m_devices.size(); }

    // Whole enumeration fails, as when the device list cannot be made.
    bool enumerationFails = false;
    // Queues listed before the devices' own ones (other printers, odd URIs).
    std::vector<PrintQueue> extraQueues;

    // --- record -----------------------------------------------------------
    std::vector<int> writeLengths;  // every bulk write's requested length
    std::string wire;               // every byte the devices accepted, in order
    std::vector<int> readTimeouts;  // every bulk read's time-out
    std::vector<std::string> probes;
    std::vector<std::string> canOpens;
    std::vector<std::string> pipeOpens;  // path + " W" / " R", successful or not
    int enumerations = 0;
    int queueListings = 0;
    // Pipes open now.
    int OpenPipes() const { return *m_openPipes; }

    // --- IUsbBackend --------------------------------------------------------
    bool Enumerate(std::vector<UsbDeviceInfo>& devices) override;
    bool CanOpen(const std::string& devicePath) override;
    bool ProbeExclusive(const std::string& devicePath) override;
    std::unique_ptr<IUsbPipe> OpenPipe(const std::string& devicePath, UsbPipeKind kind) override;

    // --- IPrintQueueSource ----------------------------------------------------
    std::vector<PrintQueue> ListQueues() override;

private:
    struct Slot {
        SimUsbDevice device;
        std::string path;
        int openPipes = 0;
    };
    class Pipe;
    Slot* Find(const std::string& devicePath);

    std::vector<std::shared_ptr<Slot>> m_devices;
    std::shared_ptr<int> m_openPipes = std::make_shared<int>(0);
};

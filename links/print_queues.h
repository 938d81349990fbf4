#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct UsbDeviceInfo;

// One print queue of the system's printing service.
struct PrintQueue {
    std::string name;
    std::string deviceUri;  // where the queue sends its jobs, e.g. "usb://Maker/Model?serial=A1"
};

// The installed print queues, in the order the printing service lists them.
class IPrintQueueSource {
public:
    virtual ~IPrintQueueSource() = default;
    // Empty when there are none or the service is not running.
    virtual std::vector<PrintQueue> ListQueues() = 0;
    // The queue installed on the device; empty when none is. Unless a
    // platform pairs them its own way, the first queue in the service's
    // order whose usb:// device URI names the device's serial number
    // (without regard to case): the one its IEEE 1284 device ID states, else
    // its USB serial-number string.
    virtual std::string QueueOnDevice(const UsbDeviceInfo& device);
};

// The machine's print queues: the CUPS scheduler's on Linux, the printers
// in the registry on Windows.
std::shared_ptr<IPrintQueueSource> MakeSystemPrintQueues();

// The serial number a "usb://" device URI names: the value of its serial=
// parameter, percent-decoded, without the "&interface=N" that follows it on
// multi-interface devices. No value for other URIs or when there is none.
std::optional<std::string> UsbSerialFromDeviceUri(const std::string& uri);

#pragma once

#include <optional>
#include <string>
#include <vector>

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
};

// The serial number a "usb://" device URI names: the value of its serial=
// parameter, percent-decoded, without the "&interface=N" that follows it on
// multi-interface devices. No value for other URIs or when there is none.
std::optional<std::string> UsbSerialFromDeviceUri(const std::string& uri);

// The queues of the CUPS scheduler. When the scheduler is not running the
// list is empty at once.
class CCupsPrintQueues : public IPrintQueueSource {
public:
    std::vector<PrintQueue> ListQueues() override;
};

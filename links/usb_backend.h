#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The maker's USB vendor ID. Discovery and the presence check recognise the
// maker's printers by it alone; the product ID only names the model.
inline constexpr uint16_t kMakerUsbVendorId = 0x3c7a;

// A device path names a device in one text that the selection, discovery
// and link all pass around: a prefix ending in '#', "vid_" and four hex
// digits, '&', "pid_" and four hex digits, '#', the instance segment, '#',
// the USB device interface class in braces. Fixed places let everything that
// picks a printer apart (product digits, instance, vendor filter) read them
// by position, so no part may hold a '#' of its own.
inline constexpr const char* kUsbDevicePathPrefix = "\\\\?\\usb#";
inline constexpr const char* kUsbDeviceInterfaceClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// One USB device present on the machine, of any vendor.
struct UsbDeviceInfo {
    std::string devicePath;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    // The device's serial-number string; empty when it has none (the path
    // then names the device by bus and port instead).
    std::string serial;
    // The printer's IEEE 1284 device ID; empty when none was read.
    std::string deviceId;
};

// `\\?\usb#vid_vvvv&pid_pppp#INSTANCE#{a5dcbf10-...}`, lower-case hex.
std::string MakeUsbDevicePath(uint16_t vendorId, uint16_t productId, const std::string& instance);

// The instance segment of a device: its serial number where it has one,
// otherwise where it is plugged in ("<bus>-<port>.<port>...", as the kernel
// names it). Characters that would break the path form ('#', blanks,
// control and non-ASCII bytes) become '_'.
std::string MakeUsbInstance(const std::string& serial, int bus, const std::vector<int>& ports);

// A device as Windows names its USB device interface
// ("\\?\USB#VID_3C7A&PID_8801#A12345#{a5dcbf10-...}", in any case): its
// IDs, and its path rebuilt in the form above, the instance kept as the
// system gives it. No value for a path of another form (a function of a
// composite device, say).
std::optional<UsbDeviceInfo> UsbDeviceFromInterfacePath(const std::string& systemPath);

// The two pipes of a printer: the write pipe is the bulk OUT endpoint, the
// read pipe the bulk IN endpoint of its printer-class interface.
enum class UsbPipeKind { Write, Read };

enum class UsbIoResult {
    Done,      // the transfer completed
    TimedOut,  // the time-out ran out; `transferred` still counts what moved
    Failed,    // the device is gone, stalled or refused the transfer
};

// The read side of a bulk IN pipe, shared by the backends. A device may send
// a whole packet whatever was asked, so a read goes into an area of whole
// packets; what the caller had no room for is kept for its next read, never
// dropped.
class CUsbPacketReader {
public:
    // Hands over bytes kept from an earlier read; false when there were none.
    bool TakeKept(uint8_t* buffer, int capacity, int& transferred) {
        if (m_kept.empty()) return false;
        transferred = Take(buffer, capacity);
        return true;
    }
    // The area for one transfer: `capacity` rounded up to whole packets.
    uint8_t* Area(int capacity, int packetSize, int& size) {
        packetSize = std::max(packetSize, 1);
        size = (capacity + packetSize - 1) / packetSize * packetSize;
        m_area.resize(static_cast<size_t>(size));
        return m_area.data();
    }
    // After the transfer moved `got` bytes into the area: hands over what
    // fits, keeps the rest.
    int Deliver(int got, uint8_t* buffer, int capacity) {
        got = std::clamp(got, 0, static_cast<int>(m_area.size()));
        m_kept.assign(m_area.begin(), m_area.begin() + got);
        return Take(buffer, capacity);
    }

private:
    int Take(uint8_t* buffer, int capacity) {
        const int count = std::min(capacity, static_cast<int>(m_kept.size()));
        std::copy(m_kept.begin(), m_kept.begin() + count, buffer);
        m_kept.erase(m_kept.begin(), m_kept.begin() + count);
        return count;
    }

    std::vector<uint8_t> m_area;
    std::vector<uint8_t> m_kept;
};

// One open pipe. Destroying it closes the pipe; when the last pipe of a
// device closes, the device is released to the system again.
class IUsbPipe {
public:
    virtual ~IUsbPipe() = default;
    virtual UsbIoResult BulkWrite(const uint8_t* data, int length, int timeoutMs,
                                  int& transferred) = 0;
    // Stores at most `capacity` bytes; bytes the device sent beyond them are
    // kept for the next read, never dropped.
    virtual UsbIoResult BulkRead(uint8_t* buffer, int capacity, int timeoutMs,
                                 int& transferred) = 0;
};

// The machine's USB, as far as the printer link needs it.
class IUsbBackend {
public:
    virtual ~IUsbBackend() = default;

    // The present devices of every vendor, in the system's order. False when
    // the list cannot be made at all.
    virtual bool Enumerate(std::vector<UsbDeviceInfo>& devices) = 0;
    // Whether the device can be opened alongside other users (the presence
    // check).
    virtual bool CanOpen(const std::string& devicePath) = 0;
    // Opens the device and claims its printer interface, then lets go again.
    // Fails while anyone, this program included, holds the interface, also
    // when another program prints through the kernel's printer driver.
    virtual bool ProbeExclusive(const std::string& devicePath) = 0;
    // Opens one pipe; nullptr when the device is gone, busy or has no such
    // pipe.
    virtual std::unique_ptr<IUsbPipe> OpenPipe(const std::string& devicePath, UsbPipeKind kind) = 0;
    // Whether, since the last Enumerate, one of the maker's devices could
    // not be opened or probed because this user may not (no udev rule),
    // rather than because it was gone or busy.
    virtual bool DeniedAccess() const { return false; }
};

// Told after a failed USB open when DeniedAccess() says why.
inline constexpr const char* kUsbNoAccessText =
    "The USB printer is there, but this user may not open it: install the udev rule "
    "60-tessaly-usb.rules (the tessaly package does), then plug the printer in again.";

// The machine's USB: libusb on Linux, SetupAPI and WinUSB on Windows.
std::shared_ptr<IUsbBackend> MakeSystemUsbBackend();

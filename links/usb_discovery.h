#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "links/print_queues.h"
#include "links/program_state.h"
#include "links/usb_backend.h"

namespace tessaly {

// Longest device path kept; longer ones are cut.
inline constexpr size_t kMaxUsbDevicePathChars = 260;

// The text between the second and third '#' of a device path; empty when the
// path has fewer than three.
std::string GetInstanceSegment(const std::string& devicePath);
// The four characters that start 14 after the first '#': the product-ID
// digits of the path form. Shorter when the path ends early.
std::string GetPidText(const std::string& devicePath);
// "vid_" and the maker's vendor ID as four lower-case hex digits.
std::string MakerVendorFilterText();
// The hex number in the four characters after the first "vid_", read up to
// the first non-hex character; no value when the path has no "vid_".
std::optional<int32_t> ParseVendorId(const std::string& devicePath);

}  // namespace tessaly

// Finds the maker's printers and the print queues installed on them.
class CUsbDiscovery {
public:
    CUsbDiscovery(IUsbBackend& backend, IPrintQueueSource& queues, tessaly::ProgramState& state)
        : m_backend(backend), m_queues(queues), m_state(state) {}

    // Fills the state's USB printer table and its last index with the present printers
    // of the maker whose path contains "pid_" + `productFilter`. Returns 1, or
    // 0 when the devices cannot be listed, none qualifies, or one of them
    // cannot be opened exclusively (entries filled before it stay).
    int DiscoverUsbPrinters(const std::string& productFilter);

    // The print queue installed on the device, as the queue source pairs
    // them; empty when there is none.
    std::string FindInstalledPrinterName(const UsbDeviceInfo& device);

    IUsbBackend& Backend() { return m_backend; }
    tessaly::ProgramState& State() { return m_state; }

private:
    IUsbBackend& m_backend;
    IPrintQueueSource& m_queues;
    tessaly::ProgramState& m_state;
};

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "links/print_queues.h"
#include "links/usb_backend.h"

namespace tessaly {

// The discovery table holds at most this many of the maker's printers.
inline constexpr int kUsbPrinterTableSize = 10;
// Longest device path kept; longer ones are cut.
inline constexpr size_t kMaxUsbDevicePathChars = 260;

// One discovered printer.
struct UsbPrinterEntry {
    std::string pidText;  // the four product-ID digits as they stand in the path
    std::string devicePath;
    std::string printerName;      // the print queue installed on it; empty when none
    std::string instanceSegment;  // text between the second and third '#' of the path
};

// The USB values shared by the link, the selection dialog and discovery, one
// instance each for the whole run.

// The device the operator last confirmed; empty until the first OK. A later
// Open whose dialog makes no new choice reuses it.
inline std::string SelectedUsbDevicePath;
// Filled from entry 0 upward by each successful discovery; entries past the
// last one filled keep what an earlier discovery left.
inline std::array<UsbPrinterEntry, kUsbPrinterTableSize> UsbPrinterTable;
// Index of the last entry filled (a count minus one).
inline int32_t UsbPrinterLastIndex = 0;
// Length of the longest selection line built in the run; never shrinks.
inline uint32_t UsbLabelWidth = 0;
// Vendor ID read from the most recent device path that had one.
inline int32_t UsbLastVendorId = 0;

// Back to the start-of-run values (for tests; the program never resets).
void ResetUsbState();

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
    CUsbDiscovery(IUsbBackend& backend, IPrintQueueSource& queues)
        : m_backend(backend), m_queues(queues) {}

    // Fills UsbPrinterTable and UsbPrinterLastIndex with the present printers
    // of the maker whose path contains "pid_" + `productFilter`. Returns 1, or
    // 0 when the devices cannot be listed, none qualifies, or one of them
    // cannot be opened exclusively (entries filled before it stay).
    int DiscoverUsbPrinters(const std::string& productFilter);

    // The first queue, in the printing service's order, whose usb:// device
    // URI names the device's serial number (without regard to case): the one
    // its IEEE 1284 device ID states, else its USB serial-number string.
    // Empty when the device has neither or no queue matches.
    std::string FindInstalledPrinterName(const UsbDeviceInfo& device);

    IUsbBackend& Backend() { return m_backend; }

private:
    IUsbBackend& m_backend;
    IPrintQueueSource& m_queues;
};

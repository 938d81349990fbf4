#pragma once

#include <array>
#include <cstdint>
#include <string>

class CEthernetIF;

namespace tessaly {

// The discovery table holds at most this many of the maker's printers.
inline constexpr int kUsbPrinterTableSize = 10;

// One discovered printer.
struct UsbPrinterEntry {
    std::string pidText;  // the four product-ID digits as they stand in the path
    std::string devicePath;
    std::string printerName;      // the print queue installed on it; empty when none
    std::string instanceSegment;  // text between the second and third '#' of the path
};

// The values that outlive any page or link object, never saved. The program
// holds exactly one, owned by the application and handed to the link factory
// and the pages; a test or a second front end makes its own.
struct ProgramState {
    // The printer's IPv4 address for the Ethernet link, host byte order
    // (first dotted field in the most significant byte). Written only by OK
    // in the Set IP address dialog.
    uint32_t printerIpAddress = 0;

    // Model name recorded by the USB printer selection; shown for model code 10.
    std::string oemModelName;

    // The "PID" value seen by the most recent Ethernet page refresh.
    int32_t ethernetPageProductId = 0;

    // The device the operator last confirmed in the USB selection; empty
    // until the first OK. A later Open whose dialog makes no new choice
    // reuses it.
    std::string selectedUsbDevicePath;
    // Filled from entry 0 upward by each successful discovery; entries past
    // the last one filled keep what an earlier discovery left.
    std::array<UsbPrinterEntry, kUsbPrinterTableSize> usbPrinterTable;
    // Index of the last entry filled (a count minus one).
    int32_t usbPrinterLastIndex = 0;
    // Vendor ID read from the most recent device path that had one.
    int32_t usbLastVendorId = 0;

    // The most recently opened Ethernet link, whose socket the application
    // closes at exit; destroying that link clears it. Only the user-interface
    // thread touches it.
    CEthernetIF* activeEthernetLink = nullptr;

    // Dotted-decimal text of printerIpAddress ("0.0.0.0" before any entry).
    std::string PrinterAddressText() const;
    // Whether the last opened Ethernet link still holds a socket.
    bool HasActiveEthernetSocket() const;
    // Closes it if there is one; returns whether a socket was closed.
    bool CloseActiveEthernetSocket();
};

std::string FormatIpAddress(uint32_t address);

}  // namespace tessaly

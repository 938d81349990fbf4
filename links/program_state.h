#pragma once

#include <cstdint>
#include <string>

// Values that outlive any page or link object: one instance each for the
// whole run, never saved.
namespace tessaly {

// The printer's IPv4 address for the Ethernet link, host byte order (first
// dotted field in the most significant byte). Written only by OK in the
// Set IP address dialog.
inline uint32_t PrinterIpAddress = 0;

// Model name recorded by the USB printer selection; shown for model code 10.
inline std::string OemModelName;

// The "PID" value seen by the most recent Ethernet page refresh.
inline int32_t EthernetPageProductId = 0;

// Dotted-decimal text of PrinterIpAddress ("0.0.0.0" before any entry).
std::string GetPrinterAddressText();
std::string FormatIpAddress(uint32_t address);

}  // namespace tessaly

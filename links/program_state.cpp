#include "links/program_state.h"

#include <cstdio>

namespace tessaly {

std::string FormatIpAddress(uint32_t address) {
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF,
                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

std::string GetPrinterAddressText() { return FormatIpAddress(PrinterIpAddress); }

}  // namespace tessaly

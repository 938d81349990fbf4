#include "links/program_state.h"

#include <cstdio>

#include "links/ethernet_if.h"

namespace tessaly {

std::string FormatIpAddress(uint32_t address) {
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

std::string ProgramState::PrinterAddressText() const { return FormatIpAddress(printerIpAddress); }

bool ProgramState::HasActiveEthernetSocket() const {
    return activeEthernetLink != nullptr && activeEthernetLink->HasSocket();
}

bool ProgramState::CloseActiveEthernetSocket() {
    if (!HasActiveEthernetSocket()) return false;
    activeEthernetLink->Close();
    return true;
}

}  // namespace tessaly

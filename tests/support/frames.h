#pragma once

#include <cstdint>
#include <string>

#include "links/character_interface.h"

// A request as it goes over the wire: nine ENQ and an SOH, the text, then a
// comma, FS and ETX. Written out byte by byte rather than taken from the
// program, so a wrong frame in the program cannot pass for a right one.
inline std::string Framed(const std::string& text) {
    return std::string(9, '\x05') + '\x01' + text + ",\x1C\x03";
}

// The unsigned 32-bit byte sum the printer reports for a firmware image.
inline uint32_t ByteSum(const std::string& bytes) {
    uint32_t sum = 0;
    for (char c : bytes) sum += static_cast<uint8_t>(c);
    return sum;
}

// Writes `bytes` on `link` in one call; what Write returns.
inline int WriteText(CCharacterInterface& link, const std::string& bytes) {
    return link.Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<int>(bytes.size()));
}

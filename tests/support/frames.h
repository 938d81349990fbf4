#pragma once

#include <string>

// A request as it goes over the wire: nine ENQ and an SOH, the text, then a
// comma, FS and ETX. Written out byte by byte rather than taken from the
// program, so a wrong frame in the program cannot pass for a right one.
inline std::string Framed(const std::string& text) {
    return std::string(9, '\x05') + '\x01' + text + ",\x1C\x03";
}

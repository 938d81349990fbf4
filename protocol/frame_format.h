#pragma once

#include <cstdint>
#include <string>

// The frame layout every request and transfer shares: nine ENQ and an SOH,
// the request text, then a comma, FS and ETX. Private to the protocol object.
namespace frame {

inline constexpr uint8_t kENQ = 0x05;
inline constexpr uint8_t kSOH = 0x01;
inline constexpr uint8_t kFS = 0x1C;
inline constexpr uint8_t kETX = 0x03;
inline constexpr int kPreambleEnqs = 9;
inline constexpr int kPreambleSize = kPreambleEnqs + 1;
inline constexpr char kTrailer[] = {',', static_cast<char>(kFS), static_cast<char>(kETX)};
inline constexpr int kTrailerSize = sizeof kTrailer;

inline std::string Preamble() {
    std::string p(kPreambleEnqs, static_cast<char>(kENQ));
    p.push_back(static_cast<char>(kSOH));
    return p;
}

inline const uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

}  // namespace frame

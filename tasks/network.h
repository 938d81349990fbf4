#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CMessageIF;

namespace network {

inline constexpr std::array<int32_t, 5> kEthernetProductIds = {0x1800, 0x9000, 0x9001, 0x9002,
                                                               0x9003};
inline constexpr const char* kNotApplicableText = "Not Applicable";
enum AddressMode : int { kModeUnknown = -1, kModeDynamic = 0, kModeStatic = 1 };
inline constexpr int kAddressCount = 3;

bool IsEthernetProduct(int32_t productId);
// An address as the printer's settings carry it: the signed decimal of the
// 32-bit value whose most significant byte is the first dotted field
// (192.168.102.0 is -1062705664).
std::string AddressToWire(uint32_t address);
// No value for a reply that carries no number.
std::optional<uint32_t> AddressFromWire(const std::string& text);

struct Settings {
    int32_t productId = 0;
    bool applicable = false;
    std::optional<std::string> mac;
    int mode = kModeUnknown;
    // IP address, subnet mask, default gateway; none where none was reported
    std::array<std::optional<uint32_t>, kAddressCount> addresses;
};
// Reads the product id and, on an Ethernet printer, the MAC address, the
// mode and the three addresses, in the page's order.
Settings Read(CMessageIF& msg);
// One setting a save meant to write.
struct SettingWrite {
    int command = 0;    // cmd::DYN, cmd::IPA, cmd::SNM or cmd::GWY
    std::string value;  // as it travels
    bool sent = false;  // the whole frame went out
};
struct SaveResult {
    bool applicable = false;           // an Ethernet printer: the save was tried
    std::vector<SettingWrite> writes;  // in the order they went
    bool AllSent() const;
};
// Writes the mode (unless unknown) and every address that has a value, each
// whether or not the one before went out. Nothing on a printer that is not
// an Ethernet product.
SaveResult Save(CMessageIF& msg, int32_t productId, int mode,
                const std::array<std::optional<uint32_t>, kAddressCount>& addresses);

}  // namespace network

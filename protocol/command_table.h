#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Command indices: the position of each mnemonic in the command table.
namespace cmd {
enum : int {
    MSR,
    BSR,
    PSR,
    CHK,
    VRS,
    MDL,
    VID,
    PID,
    USN,
    UPN,  // 0-9
    BACK,
    BAR,
    CAM,
    DBA,
    DYE,
    ENC,
    FED,
    FFF,
    FLIP,
    RED,  // 10-19
    SPD,
    TAC,
    TOS,
    TST,
    CLN,
    CHP,
    EJT,
    GEM,
    MIF,
    RAMP,  // 20-29
    PRINT,
    SET,
    UNSET,
    DBG,
    LCX,
    HEAD,
    HFD,
    OKY,
    CAN,
    FPP,  // 30-39
    FDC,
    CCP,
    FSS,
    FSP,
    FEP,
    CLP,
    CRQ,
    DEF_RST,
    TCP,
    TCQ,  // 40-49
    CPQ,
    TPQ,
    TCN,
    DFR,
    CCQ,
    ERR,
    FRM,
    UPG,
    LBM,
    PBM,  // 50-59
    TGD,
    TGH,
    TGL,
    TGT,
    RESERVED_64,
    RESERVED_65,
    QPR,
    MAC,
    IPA,
    SNM,  // 60-69
    GWY,
    DYN,
    MSV,
    SNR,
    MIP,  // 70-74
    COUNT
};
}  // namespace cmd
static_assert(cmd::MIP == 74 && cmd::COUNT == 75);

// Printer family words: one bit each, taken from the first letter of the
// printer's "VRS" value.
namespace family {
inline constexpr uint32_t kOther = 1;
inline constexpr uint32_t kA = 2;
inline constexpr uint32_t kV = 4;  // also the value before the first detection
inline constexpr uint32_t kE = 8;
inline constexpr uint32_t kH = 16;
inline constexpr uint32_t kJ = 32;
inline constexpr uint32_t kQ = 64;
inline constexpr uint32_t kU = 256;

// The family word for the first character of a "VRS" value (empty: kOther).
uint32_t FromVersion(std::string_view version);
}  // namespace family

struct CommandEntry {
    std::string_view mnemonic;
    uint32_t familyMask;
};

// The 75 commands with the families that may receive each.
extern const std::array<CommandEntry, cmd::COUNT> kCommandTable;

// The index of a mnemonic, or -1 when the table has no such entry.
int CommandIndex(std::string_view mnemonic);

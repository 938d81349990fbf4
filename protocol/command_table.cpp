#include "protocol/command_table.h"

namespace {
// Every family word that detection produces (bit 1024 rides along).
constexpr uint32_t kAll = 1407;
// Every family but "V".
constexpr uint32_t kNotV = 1403;
constexpr uint32_t kOnlyA = 2;
constexpr uint32_t kOnlyEH = 24;
}  // namespace

const std::array<CommandEntry, cmd::COUNT> kCommandTable = {{
    {"MSR", kAll},   {"BSR", kAll},   {"PSR", kAll},     {"CHK", kAll},   {"VRS", kAll},
    {"MDL", kNotV},  {"VID", kNotV},  {"PID", kNotV},    {"USN", kNotV},  {"UPN", kNotV},
    {"BACK", kAll},  {"BAR", kAll},   {"CAM", kAll},     {"DBA", kAll},   {"DYE", kAll},
    {"ENC", kAll},   {"FED", kAll},   {"FFF", kAll},     {"FLIP", kAll},  {"RED", kAll},
    {"SPD", kAll},   {"TAC", kAll},   {"TOS", kAll},     {"TST", kAll},   {"CLN", kAll},
    {"CHP", kAll},   {"EJT", kAll},   {"GEM", kAll},     {"MIF", kAll},   {"RAMP", kAll},
    {"PRINT", kAll}, {"SET", kAll},   {"UNSET", kAll},   {"DBG", kAll},   {"LCX", kAll},
    {"HEAD", kAll},  {"HFD", kAll},   {"OKY", kAll},     {"CAN", kAll},   {"FPP", kAll},
    {"FDC", kAll},   {"CCP", kAll},   {"FSS", kAll},     {"FSP", kAll},   {"FEP", kAll},
    {"CLP", kAll},   {"CRQ", kAll},   {"DEF,RST", kAll}, {"TCP", kAll},   {"TCQ", kAll},
    {"CPQ", kAll},   {"TPQ", kAll},   {"TCN", kAll},     {"DFR", kAll},   {"CCQ", kAll},
    {"ERR", kAll},   {"FRM", kAll},   {"UPG", kAll},     {"LBM", kNotV},  {"PBM", kNotV},
    {"TGD", kOnlyA}, {"TGH", kOnlyA}, {"TGL", kOnlyA},   {"TGT", kOnlyA}, {"", kOnlyA},
    {"", kNotV},     {"QPR", kNotV},  {"MAC", kOnlyEH},  {"IPA", kAll},   {"SNM", kAll},
    {"GWY", kAll},   {"DYN", kAll},   {"MSV", kAll},     {"SNR", kNotV},  {"MIP", kAll},
}};

int CommandIndex(std::string_view mnemonic) {
    if (mnemonic.empty()) return -1;
    for (int i = 0; i < cmd::COUNT; ++i) {
        if (kCommandTable[i].mnemonic == mnemonic) return i;
    }
    return -1;
}

namespace family {
uint32_t FromVersion(std::string_view version) {
    if (version.empty()) return kOther;
    switch (version.front()) {
        case 'A':
            return kA;
        case 'V':
            return kV;
        case 'E':
            return kE;
        case 'H':
            return kH;
        case 'J':
            return kJ;
        case 'Q':
            return kQ;
        case 'U':
            return kU;
        default:
            return kOther;
    }
}
}  // namespace family

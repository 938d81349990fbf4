// The network settings task against the in-process simulated printer: which
// printers it serves, what it makes of their replies, what a save writes and
// what it says of a save cut short.
#include "tasks/network.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/command_table.h"
#include "task_rig.h"

namespace {

using Addresses = std::array<std::optional<uint32_t>, network::kAddressCount>;
using Texts = std::vector<std::string>;

// The printer no longer knows the value (it answers "NAK,").
void Forget(SimPrinterState& s, const char* mnemonic) { s.values.erase(mnemonic); }

TEST(NetworkRead, OnlyTheFiveEthernetProductIdsAreServed) {
    struct Row {
        const char* version;
        std::optional<std::string> pid;  // none: the printer does not know "PID"
        bool served;
        int32_t productId;
    };
    const Row rows[] = {
        {"E3.05", "6144", true, 6144},    {"E3.05", "36864", true, 36864},
        {"E3.05", "36865", true, 36865},  {"E3.05", "36866", true, 36866},
        {"E3.05", "36867", true, 36867},  {"E3.05", "6143", false, 6143},
        {"E3.05", "36868", false, 36868}, {"E3.05", "abc", false, 0},
        {"E3.05", "0x1800", false, 0},    {"E3.05", std::nullopt, false, 0},
        {"V1.00", "6144", false, 0},  // "PID" is never asked of the V family
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.version) + " PID " + row.pid.value_or("<none>"));
        TaskRig rig(
            [&](SimPrinterState& s) {
                if (row.pid) {
                    s.values["PID"] = *row.pid;
                } else {
                    Forget(s, "PID");
                }
            },
            row.version);
        const network::Settings settings = network::Read(rig.msg);
        EXPECT_EQ(settings.productId, row.productId);
        EXPECT_EQ(settings.applicable, row.served);
        if (row.served) {
            EXPECT_EQ(rig.Requests(), (Texts{"REQ,STA,PID", "REQ,STA,MAC", "REQ,STA,DYN",
                                             "REQ,STA,IPA", "REQ,STA,SNM", "REQ,STA,GWY"}));
            EXPECT_EQ(settings.addresses[0], 0xC0A86632u);  // 192.168.102.50
        } else {
            // Nothing beyond the product id is asked of a printer without
            // Ethernet, and nothing of it is kept.
            EXPECT_LE(rig.Requests().size(), 1u);
            EXPECT_EQ(settings.mac, std::nullopt);
            EXPECT_EQ(settings.mode, network::kModeUnknown);
            EXPECT_EQ(settings.addresses, Addresses{});
        }
    }
}

TEST(NetworkRead, ModeAndMacFollowTheReplies) {
    struct Row {
        const char* what;
        const char* version;
        std::optional<std::string> dyn;  // none: not reported
        int mode;
        std::optional<std::string> mac;
    };
    const Row rows[] = {
        {"exactly 1 is dynamic", "E3.05", "1", network::kModeDynamic, "00:1B:2C:3D:4E:5F"},
        {"0", "E3.05", "0", network::kModeStatic, "00:1B:2C:3D:4E:5F"},
        {"01", "E3.05", "01", network::kModeStatic, "00:1B:2C:3D:4E:5F"},
        {"1 and a blank", "E3.05", "1 ", network::kModeStatic, "00:1B:2C:3D:4E:5F"},
        {"empty", "E3.05", "", network::kModeStatic, "00:1B:2C:3D:4E:5F"},
        {"not reported", "E3.05", std::nullopt, network::kModeUnknown, "00:1B:2C:3D:4E:5F"},
        // Only the E and H families are asked their MAC address.
        {"family H", "H2.10", "0", network::kModeStatic, "00:1B:2C:3D:4E:5F"},
        {"family A", "A4.01", "0", network::kModeStatic, std::nullopt},
        {"family J", "J1.00", "0", network::kModeStatic, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TaskRig rig(
            [&](SimPrinterState& s) {
                if (row.dyn) {
                    s.values["DYN"] = *row.dyn;
                } else {
                    Forget(s, "DYN");
                }
            },
            row.version);
        const network::Settings settings = network::Read(rig.msg);
        EXPECT_EQ(settings.mode, row.mode);
        EXPECT_EQ(settings.mac, row.mac);
        EXPECT_EQ(settings.addresses[1], 0xFFFFFF00u);
    }
}

TEST(NetworkRead, AddressesAreSignedSaturatingDecimals) {
    struct Row {
        std::optional<std::string> value;  // none: not reported
        std::optional<uint32_t> address;
    };
    const Row rows[] = {
        {"-1062705664", 0xC0A86600},  // 192.168.102.0
        {"167772161", 0x0A000001},
        {"-1", 0xFFFFFFFF},
        {"3232261632", 0x7FFFFFFF},  // the same address unsigned: saturates
        {"-4294967296", 0x80000000},
        {"  +42xyz", 42},
        {"0", 0},
        // No number from the printer: no address, not 0.0.0.0.
        {"", std::nullopt},
        {"abc", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("value " + row.value.value_or("<none>"));
        TaskRig rig([&](SimPrinterState& s) {
            for (const char* name : {"IPA", "SNM", "GWY"}) {
                if (row.value) {
                    s.values[name] = *row.value;
                } else {
                    Forget(s, name);
                }
            }
        });
        const network::Settings settings = network::Read(rig.msg);
        EXPECT_EQ(settings.addresses, (Addresses{row.address, row.address, row.address}));
        EXPECT_EQ(settings.mode, network::kModeStatic);
    }
}

// What a save writes: the mode unless unknown, then every address that has
// a value, whatever the mode; nothing to a printer without Ethernet. Each
// value reads back as it was written.
TEST(NetworkSave, WritesTheModeAndTheAddressesThatHaveValues) {
    struct Row {
        const char* what;
        int32_t productId;
        int mode;
        Addresses addresses;
        Texts wire;
    };
    const Row rows[] = {
        {"dynamic still sends the addresses",
         0x9000,
         network::kModeDynamic,
         {0xC0A86600, 0xFFFF0000, 0x0A000001},
         {"DYN1", "IPA-1062705664", "SNM-65536", "GWY167772161"}},
        {"the ends of the signed range",
         0x1800,
         network::kModeStatic,
         {0xFFFFFFFF, 0x80000000, 0x7FFFFFFF},
         {"DYN0", "IPA-1", "SNM-2147483648", "GWY2147483647"}},
        {"an unknown mode and an address without value are not written",
         0x1800,
         network::kModeUnknown,
         {0x0A001400, std::nullopt, 0},
         {"IPA167777280", "GWY0"}},
        {"not an Ethernet printer", 0x17FF, network::kModeStatic, {1, 2, 3}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TaskRig rig;
        const network::SaveResult saved =
            network::Save(rig.msg, row.productId, row.mode, row.addresses);
        Texts wire;
        for (const SimFrame& frame : rig.printer->Frames()) {
            EXPECT_EQ(frame.bytes.substr(0, 18), std::string(9, '\x05') + "\x01REQ,MOD,");
            wire.push_back(frame.mnemonic + frame.parameter);
        }
        EXPECT_EQ(wire, row.wire);
        EXPECT_EQ(saved.applicable, !row.wire.empty());
        EXPECT_EQ(saved.AllSent(), !row.wire.empty());
        EXPECT_EQ(rig.host.pauses, std::vector<int>(row.wire.size(), CMessageIF::kModifyPauseMs));
        if (!saved.applicable) continue;
        rig.printer->SetValue("PID", std::to_string(row.productId));
        const network::Settings back = network::Read(rig.msg);
        for (size_t i = 0; i < row.addresses.size(); ++i) {
            if (row.addresses[i]) {
                EXPECT_EQ(back.addresses[i], row.addresses[i]) << i;
            }
        }
        if (row.mode != network::kModeUnknown) {
            EXPECT_EQ(back.mode, row.mode);
        }
    }
}

// A save cut off after its first two writes says which went out; one that
// ran whole says so of each.
TEST(NetworkSave, ReportsEveryWrite) {
    const Addresses addresses = {0x0A000001, 0xFFFFFF00, std::nullopt};
    for (const int off : {-1, 2}) {
        SCOPED_TRACE("off after " + std::to_string(off));
        TaskRig rig;
        if (off >= 0) rig.OffAfter(off);
        const network::SaveResult saved =
            network::Save(rig.msg, 0x1800, network::kModeDynamic, addresses);
        EXPECT_TRUE(saved.applicable);
        ASSERT_EQ(saved.writes.size(), 3u);
        const std::pair<int, const char*> expected[] = {
            {cmd::DYN, "1"}, {cmd::IPA, "167772161"}, {cmd::SNM, "-256"}};
        for (size_t i = 0; i < saved.writes.size(); ++i) {
            EXPECT_EQ(saved.writes[i].command, expected[i].first);
            EXPECT_EQ(saved.writes[i].value, expected[i].second);
            EXPECT_EQ(saved.writes[i].sent, off < 0 || static_cast<int>(i) < off) << i;
        }
        EXPECT_EQ(saved.AllSent(), off < 0);
    }
}

}  // namespace

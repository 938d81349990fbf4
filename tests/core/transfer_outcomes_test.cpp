// How the upgrade and encode tasks end against a simulated printer
// that hangs up, goes silent or states its checksum its own way: each
// outcome is the one the printer earned, and the operator is told of every
// shortfall.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "protocol/message_if.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/fake_host.h"
#include "tasks/firmware.h"
#include "tasks/magstripe.h"

namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;

class TransferOutcomes : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(folder); }

    // Connects to a fresh printer, then forgets the connect's frames.
    void Connect(const std::function<void(SimPrinterState&)>& setUp = {}) {
        SimPrinterState state;
        if (setUp) setUp(state);
        printer = std::make_shared<CSimPrinter>(state);
        msg.SetLinkFactory([this](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            return std::make_unique<CSimLink>(printer);
        });
        ASSERT_EQ(msg.SelectPort("Ethernet"), 1);
        printer->ClearFrames();
        host.boxes.clear();
    }
    std::string File(const std::string& name, const std::string& bytes) {
        fs::create_directories(folder);
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).string();
    }

    const fs::path folder =
        fs::temp_directory_path() /
        ("tessaly-outcomes-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    // Unscripted Retry/Cancel boxes are cancelled: a reconnect ends.
    FakeHost host{MsgResult::Cancel};
    CMessageIF msg{host};
    std::shared_ptr<CSimPrinter> printer;
};

TEST_F(TransferOutcomes, UpgradeEndsInSuccessOnlyWhenTheWholeImageWasTaken) {
    using firmware::UpgradeResult;
    struct Row {
        const char* what;
        std::string image;
        int64_t failAt;  // reads fail from here on; -1 never
        UpgradeResult result;
        bool sent;  // the image and "UPG" went out
        const char* box;
    };
    const Row rows[] = {
        // 255 * 8421505 = 2^31 + 127, which this printer states unsigned;
        // the checksum's vector lanes fill to the brim with 0xFF.
        {"unsigned checksum of 2^31 and more", std::string(8421505, '\xFF'), -1,
         UpgradeResult::Upgraded, true, "Successfully sent firmware to the printer."},
        {"read failed part-way", std::string(5000, 'F'), 3000, UpgradeResult::ReadFailed, false,
         "Error reading file!"},
        {"empty", "", -1, UpgradeResult::Empty, false, "The firmware file is empty"},
        {"2 GiB", "", -1, UpgradeResult::TooLarge, false, "The firmware file is too large"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(
            Connect([](SimPrinterState& s) { s.checksumReply = SimChecksumReply::Unsigned; }));
        const std::string path = File("fw.cfe", "");
        if (row.result == UpgradeResult::TooLarge) fs::resize_file(path, uintmax_t{1} << 31);
        const firmware::FileOpener memory = [&](const std::string& name, std::string& why) {
            if (row.result == UpgradeResult::TooLarge) return firmware::OpenDiskFile(name, why);
            auto file = std::make_unique<CMemoryFile>(row.image);
            file->SetReadLimit(row.failAt, true);
            return std::unique_ptr<CSourceFile>(std::move(file));
        };
        const firmware::UpgradeOutcome report =
            firmware::UpgradePrinter(msg, host, path, ".cfe", {}, memory);
        EXPECT_EQ(report.result, row.result);
        EXPECT_EQ(printer->Frames().size(), row.sent ? 2u : 0u);
        EXPECT_THAT(host.BoxTexts(), Contains(HasSubstr(row.box)));
        if (row.failAt >= 0) {
            EXPECT_EQ(report.fileError, std::error_code(EIO, std::generic_category()).message());
        }
    }
}

TEST_F(TransferOutcomes, VersionAfterRestartAndEncodeTellWhetherThePrinterIsThere) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(firmware::VersionAfterRestart(msg), "E3.05");
    magstripe::EncodeRequest request;
    request.selected = {true, false, false};
    request.text[0] = "AB";
    EXPECT_EQ(magstripe::Encode(msg, host, request), magstripe::EncodeResult::Sent);

    // Gone after its restart: no version, even after a reconnect.
    ASSERT_NO_FATAL_FAILURE(Connect([](SimPrinterState& s) { s.timing.offAfterFrames = 1; }));
    EXPECT_EQ(firmware::VersionAfterRestart(msg), std::nullopt);
    // Hung up before the encode: the operator must not take the card for
    // encoded.
    ASSERT_NO_FATAL_FAILURE(Connect([](SimPrinterState& s) { s.faults.hangUpAfterBytes = 10; }));
    EXPECT_EQ(magstripe::Encode(msg, host, request), magstripe::EncodeResult::NotSent);
    EXPECT_THAT(host.BoxTexts(), Contains(HasSubstr("did not reach the printer")));
}

}  // namespace

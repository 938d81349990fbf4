// How the print, upgrade and encode tasks end against a simulated printer
// that hangs up, goes silent or answers in its own way: each outcome is the
// one the printer earned, and the operator is told of every shortfall.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "protocol/message_if.h"
#include "protocol/printer_tasks.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/fake_host.h"
#include "support/frames.h"

namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;

class TransferOutcomes : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("tessaly-outcomes-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(folder);
    }
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
    }
    std::string File(const std::string& name, const std::string& bytes) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    // A file of 2 GiB that takes no room on the disk.
    std::string HugeFile(const std::string& name) {
        const std::string path = File(name, "");
        fs::resize_file(path, uintmax_t{1} << 31);
        return path;
    }
    std::vector<SimFrameKind> FrameKinds() const {
        std::vector<SimFrameKind> kinds;
        for (const SimFrame& frame : printer->Frames()) kinds.push_back(frame.kind);
        return kinds;
    }

    fs::path folder;
    // Unscripted Retry/Cancel boxes are cancelled: a reconnect ends.
    FakeHost host{MsgResult::Cancel};
    CMessageIF msg{host};
    std::shared_ptr<CSimPrinter> printer;
};

TEST_F(TransferOutcomes, PrintFileEndsAsThePrinterTookIt) {
    using counters::PrintResult;
    const std::string content(4000, 'P');
    struct Row {
        const char* what;
        std::function<void(SimPrinterState&)> printer;
        bool huge;
        PrintResult result;
        int64_t sent;
        const char* box;  // empty: none
    };
    const Row rows[] = {
        {"took it all", {}, false, PrintResult::Sent, 4000, ""},
        {"hung up part-way", [](SimPrinterState& s) { s.faults.hangUpAfterBytes = 1000; }, false,
         PrintResult::Cut, 1000, "The printer took 1000 of 4000 bytes of the print file."},
        {"took nothing", [](SimPrinterState& s) { s.timing.offAfterFrames = 1; }, false,
         PrintResult::Cut, 0, "The printer took 0 of 4000 bytes of the print file."},
        {"2 GiB", {}, true, PrintResult::TooLarge, 0, "The print file is too large"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(Connect(row.printer));
        host.boxes.clear();
        const std::string path = row.huge ? HugeFile("huge.prn") : File("card.prn", content);
        const counters::PrintReport report = counters::SendPrintFile(msg, host, path, path);
        EXPECT_EQ(report.result, row.result);
        EXPECT_EQ(report.sent, row.sent);
        if (*row.box) {
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_THAT(host.boxes[0].text, HasSubstr(row.box));
        } else {
            EXPECT_TRUE(host.boxes.empty());
        }
        if (row.huge) {
            EXPECT_TRUE(printer->Frames().empty());
        }
    }

    // A folder is no print file: refused at the open, with the reason.
    host.boxes.clear();
    const counters::PrintReport folderReport =
        counters::SendPrintFile(msg, host, folder.string(), "F");
    EXPECT_EQ(folderReport.result, PrintResult::OpenFailed);
    EXPECT_EQ(folderReport.reason, CDiskFile::kNotPlainFileText);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Error opening file:   \n''F''   "});
}

TEST_F(TransferOutcomes, UpgradeEndsOnlyInSuccessWhenTheWholeImageWasTaken) {
    using firmware::UpgradeResult;
    // 255 * 8421505 = 2^31 + 127: a printer that states its sum unsigned
    // reports 2147483775, which is the image's sum.
    const std::string full(8421505, '\xFF');
    struct Row {
        const char* what;
        std::string image;
        int64_t readLimit;  // reads fail from here on; -1 never
        bool huge;
        SimChecksumReply checksum;
        UpgradeResult result;
        std::vector<SimFrameKind> frames;
        const char* box;
    };
    const std::vector<SimFrameKind> sentAndInstalled = {SimFrameKind::Firmware,
                                                        SimFrameKind::Request};
    const Row rows[] = {
        {"unsigned checksum of 2^31 and more", full, -1, false, SimChecksumReply::Unsigned,
         UpgradeResult::Upgraded, sentAndInstalled, "Successfully sent firmware to the printer."},
        {"read failed part-way",
         std::string(5000, 'F'),
         3000,
         false,
         SimChecksumReply::Correct,
         UpgradeResult::ReadFailed,
         {},
         "Error reading file!"},
        {"empty",
         "",
         -1,
         false,
         SimChecksumReply::Correct,
         UpgradeResult::Empty,
         {},
         "The firmware file is empty: nothing was sent."},
        {"2 GiB",
         "",
         -1,
         true,
         SimChecksumReply::Correct,
         UpgradeResult::TooLarge,
         {},
         "The firmware file is too large"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(
            Connect([&](SimPrinterState& s) { s.checksumReply = row.checksum; }));
        host.boxes.clear();
        std::string path = row.huge ? HugeFile("huge.cfe") : "new.cfe";
        const firmware::FileOpener memory = [&](const std::string&,
                                                std::string&) -> std::unique_ptr<CSourceFile> {
            auto file = std::make_unique<CMemoryFile>(row.image);
            file->SetReadLimit(row.readLimit, true);
            return file;
        };
        const firmware::UpgradeReport report =
            row.huge ? firmware::UpgradePrinter(msg, host, path, ".cfe")
                     : firmware::UpgradePrinter(msg, host, path, ".cfe", {}, memory);
        EXPECT_EQ(report.result, row.result);
        EXPECT_EQ(FrameKinds(), row.frames);
        EXPECT_THAT(host.BoxTexts(), Contains(HasSubstr(row.box)));
        if (row.result == UpgradeResult::ReadFailed) {
            EXPECT_EQ(report.fileError, std::error_code(EIO, std::generic_category()).message());
            EXPECT_TRUE(firmware::EndsRun(report.result));
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
    EXPECT_TRUE(host.boxes.empty());

    // Gone after its restart: no version, even after a reconnect.
    ASSERT_NO_FATAL_FAILURE(Connect([](SimPrinterState& s) { s.timing.offAfterFrames = 1; }));
    EXPECT_EQ(firmware::VersionAfterRestart(msg), std::nullopt);
    // Hung up before the encode: the card is not encoded, and the operator
    // is told.
    ASSERT_NO_FATAL_FAILURE(Connect([](SimPrinterState& s) { s.faults.hangUpAfterBytes = 10; }));
    EXPECT_EQ(magstripe::Encode(msg, host, request), magstripe::EncodeResult::NotSent);
    EXPECT_THAT(host.BoxTexts(), Contains(HasSubstr("did not reach the printer")));
}

// The checksum in vector lanes over large reads adds up to the plain byte
// sum at every size: lanes filled to the brim with 0xFF, a block boundary,
// a tail shorter than a lane row.
TEST(FirmwareSum, EqualsThePlainByteSumAtEverySize) {
    for (const size_t size : {size_t{0}, size_t{31}, size_t{8192 * 3 + 17}, size_t{200005}}) {
        for (const char fill : {'\xFF', '\x00'}) {
            std::string bytes(size, fill);
            for (size_t i = 0; fill == '\x00' && i < size; ++i) bytes[i] = static_cast<char>(i * 7);
            CMemoryFile file(bytes);
            EXPECT_EQ(firmware::SumBytes(file).sum, ByteSum(bytes)) << size;
        }
    }
}

}  // namespace

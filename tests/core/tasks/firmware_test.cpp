// The firmware upgrades of the printer and its laminator: which file passes,
// what the printer must confirm, and what each outcome tells the operator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/firmware_texts.h"
#include "support/scripted_link.h"
#include "task_rig.h"

namespace {

using firmware::UpgradeResult;

using namespace firmware_texts;

// Windows file names are case-blind, so there the path is kept lowered; a
// case-sensitive file system needs it as chosen.
std::string Kept(const std::string& path) {
#ifdef _WIN32
    return firmware::LowerAscii(path);
#else
    return path;
#endif
}

std::vector<std::string> Mnemonics(const CSimPrinter& printer) {
    std::vector<std::string> names;
    for (const SimFrame& frame : printer.Frames()) names.push_back(frame.mnemonic);
    return names;
}

}  // namespace

TEST(FirmwareTask, ExtensionFollowsTheVersion) {
    const struct {
        std::optional<std::string> version;
        const char* extension;
    } rows[] = {
        {"V1.10", ".bin"}, {"E3.05", ".cfe"},      {"A2.00", ".cfa"},
        {"Q1.0", ".cfq"},  {std::nullopt, ".cfa"}, {"", ".cf"},  // an answer without a letter
    };
    for (const auto& row : rows) {
        EXPECT_EQ(firmware::ExtensionForVersion(row.version), row.extension)
            << row.version.value_or("(none)");
    }
}

TEST(FirmwareTask, ChecksumSumsUnsignedBytesAndStopsAtAReadError) {
    CMemoryFile bytes(std::string("\x01\x80\xFF\x00", 4));
    EXPECT_EQ(firmware::SumBytes(bytes).sum, 1u + 128u + 255u);
    EXPECT_FALSE(firmware::SumBytes(bytes).readFailed);  // rewinds first

    CMemoryFile failing(std::string(10000, '\x02'));
    failing.SetReadLimit(5000, true);
    const firmware::ByteSum partial = firmware::SumBytes(failing);
    EXPECT_TRUE(partial.readFailed);
    EXPECT_EQ(partial.sum, 10000u);
    EXPECT_FALSE(partial.readError.empty());
}

TEST(FirmwareTask, PrinterUpgradeOutcomes) {
    using C = SimChecksumReply;
    using R = UpgradeResult;
    // The printer states its sum as a signed decimal: from 2^31 on it is
    // negative and must still match.
    const std::string beyond31((uint64_t{1} << 31) / 255 + 10, '\xFF');
    const struct {
        const char* what;
        std::string path;
        std::optional<std::string> image;  // none: the file cannot be opened
        MsgResult answer;
        C reply;
        R result;
    } rows[] = {
        {"declined", "fw.cfe", Image(10), MsgResult::No, C::Correct, R::Declined},
        {"no file", "", std::nullopt, MsgResult::Yes, C::Correct, R::OpenFailed},
        {"wrong extension", "fw.bin", Image(10), MsgResult::Yes, C::Correct, R::BadExtension},
        {"upper case", "Firmware/NEW.CFE", Image(2500), MsgResult::Yes, C::Correct, R::Upgraded},
        {"in a folder name", "release.CFE.d/fw.dat", Image(40), MsgResult::Yes, C::Correct,
         R::Upgraded},
        {"sum beyond 2^31", "big.cfe", beyond31, MsgResult::Yes, C::Correct, R::Upgraded},
        {"wrong sum", "fw.cfe", Image(700), MsgResult::Yes, C::Wrong, R::SendFailed},
        {"no CHK", "fw.cfe", Image(700), MsgResult::Yes, C::Omitted, R::SendFailed},
    };
    // By outcome: the box after the question, the frames the printer got
    // and the time waited (for the checksum, then for the restart).
    struct Expected {
        std::vector<std::string> boxes;
        std::vector<std::string> frames;
        int pauseMs;
    };
    const auto expected = [](R result) -> Expected {
        switch (result) {
            case R::Declined:
                return {{kConfirm}, {}, 0};
            case R::OpenFailed:
                return {{kConfirm, "Error opening file!"}, {}, 0};
            case R::BadExtension:
                return {{kConfirm, kBadExtension}, {}, 0};
            case R::Upgraded:
                return {{kConfirm, kSuccess}, {"FRM", "UPG"}, 10500};
            default:
                return {{kConfirm, kSendError}, {"FRM"}, 500};
        }
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SimTaskRig rig;
        rig.printer->UpdateState([&](SimPrinterState& s) { s.checksumReply = row.reply; });
        rig.host.boxAnswers = {row.answer};

        const UpgradeRun run =
            RunUpgrade(rig.msg, rig.host, Board::Printer, row.path, row.image, ".cfe");

        EXPECT_EQ(run.result, row.result);
        const Expected want = expected(row.result);
        EXPECT_EQ(rig.host.BoxTexts(), want.boxes);
        EXPECT_EQ(Mnemonics(*rig.printer), want.frames);
        EXPECT_EQ(rig.host.TotalPauseMs(), want.pauseMs);
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
        const bool upgraded = row.result == UpgradeResult::Upgraded;
        EXPECT_EQ(run.upgradeSentFor,
                  upgraded ? std::vector<std::string>{Kept(row.path)} : std::vector<std::string>{});
        if (upgraded) {
            EXPECT_EQ(run.keptPath, Kept(row.path));
        }
        // The window ends the program once a transfer began.
        EXPECT_EQ(firmware::EndsRun(run.result), !want.frames.empty());
    }
}

// The image in one frame, "UPG" after it, then the ten seconds the printer
// needs, counted down.
TEST(FirmwareTask, UpgradeSendsTheImageThenUpgAndCountsDownTheRestart) {
    SimTaskRig rig;
    const std::string image = Image(2500);
    ASSERT_EQ(RunUpgrade(rig.msg, rig.host, Board::Printer, "fw.cfe", image).result,
              UpgradeResult::Upgraded);

    const std::vector<SimFrame> frames = rig.printer->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, SimFrameKind::Firmware);
    EXPECT_EQ(frames[0].data, image);
    EXPECT_EQ(frames[0].parameter, "2500");
    EXPECT_EQ(frames[1].kind, SimFrameKind::Request);
    EXPECT_EQ(frames[1].prefix, "REQ,");
    EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(rig.host.boxes[1].buttons, MsgButtons::Ok);
    ASSERT_GE(rig.host.progressTexts.size(), 10u);
    const size_t first = rig.host.progressTexts.size() - 10;
    EXPECT_NE(rig.host.progressTexts[first].find("10 seconds left"), std::string::npos);
    EXPECT_NE(rig.host.progressTexts.back().find("1 second left"), std::string::npos);
    // The image's progress window and the countdown's, both closed.
    EXPECT_EQ(rig.host.progressEnds, 2);
    EXPECT_EQ(rig.host.waitCursorShows, 1);
}

// An "UPG" that never reaches the printer installs nothing: no countdown,
// the failure box, even when the operator's retry reconnects.
TEST(FirmwareTask, AnUpgThatDoesNotGoOutIsAFailure) {
    FakeHost host;
    CMessageIF msg{host};
    ScriptedLinks links;
    links.prepare = [](ScriptedLink& made) { made.QueueReply("VRSE3.05,"); };
    msg.SetLinkFactory(links.Factory());
    ASSERT_EQ(msg.SelectPort("USB"), 1);
    const std::string image = Image(300);
    CMemoryFile content(image);
    links.link->QueueReply("CHK" + std::to_string(firmware::SumBytes(content).sum) + ",");
    // Header, image and ETX go out; "UPG" is refused.
    links.link->writeResults = {-1, -1, -1, 0};
    links.link->QueueReply("VRSE3.05,");
    host.boxes.clear();

    const UpgradeRun run = RunUpgrade(msg, host, Board::Printer, "fw.cfe", image);

    EXPECT_EQ(run.result, UpgradeResult::SendFailed);
    EXPECT_TRUE(run.upgradeSentFor.empty());
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.front().text, kConfirm);
    EXPECT_EQ(host.boxes.back().text, kSendError);
    EXPECT_EQ(host.TotalPauseMs(), CMessageIF::kFirmwareReplyPauseMs);
    EXPECT_EQ(host.progressEnds, 1);  // the image's window; no countdown
}

TEST(FirmwareTask, LaminatorUpgradeOutcomes) {
    using R = UpgradeResult;
    const std::string hex = ":10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n";
    const struct {
        const char* what;
        std::string path;
        std::optional<std::string> image;
        MsgResult answer;
        bool printerThere;
        R result;
    } rows[] = {
        {"no file", "", std::nullopt, MsgResult::Yes, true, R::OpenFailed},
        {"wrong extension", "lam.bin", hex, MsgResult::Yes, true, R::BadExtension},
        {"declined", "lam.hex", hex, MsgResult::No, true, R::Declined},
        {"sent", "Lam/BOARD.HEX", hex, MsgResult::Yes, true, R::Upgraded},
        // A frame the link refused is no upgrade in progress.
        {"printer gone", "lam.hex", hex, MsgResult::Yes, false, R::SendFailed},
    };
    // The file is checked before the question.
    const auto boxes = [](R result) -> std::vector<std::string> {
        switch (result) {
            case R::OpenFailed:
                return {"Error opening file!   "};
            case R::BadExtension:
                return {kLaminatorBadExtension};
            case R::Declined:
                return {kLaminatorConfirm};
            case R::Upgraded:
                return {kLaminatorConfirm, kLaminatorStarted};
            default:
                return {kLaminatorConfirm, kSendError};
        }
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SimTaskRig rig("H1.20");
        if (!row.printerThere) rig.SwitchOff();
        rig.host.boxAnswers = {row.answer};

        const UpgradeRun run = RunUpgrade(rig.msg, rig.host, Board::Laminator, row.path, row.image);

        EXPECT_EQ(run.result, row.result);
        EXPECT_EQ(rig.host.BoxTexts(), boxes(row.result));
        EXPECT_TRUE(rig.host.pauses.empty());
        EXPECT_EQ(rig.host.waitCursorDepth, 0);
        const std::vector<SimFrame> frames = rig.printer->Frames();
        if (row.result == UpgradeResult::Upgraded) {
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_EQ(frames[0].kind, SimFrameKind::Laminator);
            EXPECT_EQ(frames[0].data, hex);
            EXPECT_EQ(run.keptPath, Kept(row.path));
        } else {
            EXPECT_TRUE(frames.empty());
        }
    }
}

// The protocol object over the real Ethernet link against a misbehaving
// simulated printer on loopback. Every case has a bound on time and an exact
// outcome: what the request forms hand back, which boxes the operator sees,
// which pauses are asked for, and that the next request is not spoiled.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "links/ethernet_if.h"
#include "links/program_state.h"
#include "protocol/message_if.h"
#include "sim/sim_card.h"
#include "sim/sim_printer.h"
#include "support/counting_sheet.h"
#include "support/fake_host.h"
#include "support/sim_tcp_printer.h"
#include "support/time_scale.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1
// Short enough to keep the suite quick, long enough that a loaded machine
// (or valgrind) does not time out an answer that is on its way.
const int kReceiveMs = 400 * TestTimeScale();
const int kConnectMs = 1000 * TestTimeScale();
// What a request that gets its answer may take at most, and what one that
// waits for the receive time-out may take at most.
const long long kPromptMs = kReceiveMs / 2;
const long long kTimedOutMs = kReceiveMs * 3;

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        state.printerIpAddress = kLoopback;
        ASSERT_TRUE(server.IsRunning()) << tcp.startError;
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory(tcp.EthernetLinks(state, kReceiveMs, kConnectMs));
    }
    void TearDown() override { msg.SetMainSheet(nullptr); }

    // Connects to a well-behaved printer ("E" family), then forgets the
    // connect's traffic.
    void Connect() {
        ASSERT_EQ(msg.SelectPort("Ethernet"), 1);
        ASSERT_EQ(msg.GetPrinterFamily(), family::kE);
        printer->ClearFrames();
        host.boxes.clear();
        host.pauses.clear();
        sheet.rebuilds = 0;
    }
    void SetFaults(const SimFaults& faults) {
        printer->UpdateState([&](SimPrinterState& s) { s.faults = faults; });
    }

    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host;
    CountingSheet sheet;
    CMessageIF msg{host};
    SimTcpPrinter tcp;
    std::shared_ptr<CSimPrinter>& printer = tcp.printer;
    CSimTcpServer& server = tcp.server;
};

TEST_F(FaultInjection, ConnectionRefusedAsksRetryOrCancelUntilThePrinterIsBack) {
    server.Stop();  // nothing listens: every attempt is refused at once
    host.boxAnswers = {MsgResult::Retry, MsgResult::Cancel};
    auto start = Clock::now();
    EXPECT_EQ(msg.SelectPort("Ethernet"), 0);
    EXPECT_LT(MsSince(start), kPromptMs);
    ASSERT_EQ(host.boxes.size(), 2u);
    for (const auto& box : host.boxes) {
        EXPECT_EQ(box.text,
                  "Could not connect to the Printer. \n"
                  "Ensure cable is connected and printer is switched on.");
        EXPECT_EQ(box.buttons, MsgButtons::RetryCancel);
        EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    }
    EXPECT_EQ(host.pauses, std::vector<int>{CMessageIF::kRetryPauseMs});
    EXPECT_EQ(sheet.rebuilds, 0);
    EXPECT_EQ(server.ConnectionsAccepted(), 0);

    // Switched on during the retry pause: the next attempt gets through.
    host.boxes.clear();
    host.pauses.clear();
    host.boxAnswers = {MsgResult::Retry};
    host.onPause = [this](int) { ASSERT_TRUE(server.Start(server.Port())); };
    EXPECT_EQ(msg.SelectPort("Ethernet"), 1);
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(sheet.rebuilds, 1);
    EXPECT_EQ(msg.GetPrinterFamily(), family::kE);
}

TEST_F(FaultInjection, PrinterThatAcceptsAndNeverAnswers) {
    SetFaults({.silent = true});
    auto start = Clock::now();
    ASSERT_EQ(msg.SelectPort("Ethernet"), 1);  // the connection itself succeeds
    EXPECT_LT(MsSince(start), kTimedOutMs);
    EXPECT_EQ(msg.GetPrinterFamily(), family::kV);  // detection got nothing

    start = Clock::now();
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
    const long long waited = MsSince(start);
    EXPECT_GE(waited, kReceiveMs - 50);
    EXPECT_LT(waited, kTimedOutMs);

    CTextValue field("stale");
    msg.ShowStatus(cmd::VRS, field);
    EXPECT_EQ(field.GetWindowText(), "");
    EXPECT_EQ(msg.RequestNumbered(cmd::ENC, 1), "");

    CMemoryFile image(std::string(3000, 'F'));
    start = Clock::now();
    EXPECT_EQ(msg.SendFirmwareImage(image), std::nullopt);
    EXPECT_LT(MsSince(start), kTimedOutMs);
    EXPECT_EQ(host.pauses, std::vector<int>{CMessageIF::kFirmwareReplyPauseMs});
    EXPECT_TRUE(host.boxes.empty());
    // Everything did reach the printer; it only kept quiet.
    const auto frames = printer->Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().kind, SimFrameKind::Firmware);
    EXPECT_EQ(frames.back().dataLength, 3000u);
}

TEST_F(FaultInjection, PrinterThatHangsUpInTheMiddleOfAReply) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    SetFaults({.hangUpMidReply = true});
    auto start = Clock::now();
    // "MSRE1234567," cut after six bytes: the value runs to the end of what came.
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), "E12");
    // The link has seen the hang-up: the next request is not sent into it.
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), std::nullopt);
    EXPECT_LT(MsSince(start), kPromptMs);
    EXPECT_EQ(printer->Frames().size(), 1u);
    EXPECT_TRUE(host.boxes.empty());

    // A sending form finds the write failed and reconnects through the sheet.
    SetFaults({});
    start = Clock::now();
    msg.SendModify(cmd::FDC, "77");
    EXPECT_LT(MsSince(start), kPromptMs);
    EXPECT_TRUE(host.boxes.empty());  // the printer takes the new connection
    EXPECT_EQ(sheet.rebuilds, 1);
    EXPECT_TRUE(host.pauses.empty());  // no pause after a failed write
    // The modify was not resent; a status round trip also makes sure the
    // printer has handled all that came before it.
    EXPECT_EQ(msg.RequestStatus(cmd::FDC), "50");
}

TEST_F(FaultInjection, BinaryGarbageWithZeroBytes) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    SetFaults({.garbageReplies = true});
    auto start = Clock::now();
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
    EXPECT_EQ(msg.RequestStatus(cmd::TCQ), std::nullopt);
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 1), "");  // the reply begins with a zero byte
    msg.DetectPrinterFamily();
    EXPECT_EQ(msg.GetPrinterFamily(), family::kE);  // no value: the family stays
    EXPECT_LT(MsSince(start), kPromptMs);
    EXPECT_TRUE(host.boxes.empty());

    SetFaults({});
    EXPECT_EQ(msg.RequestStatus(cmd::TCQ), "904");
}

TEST_F(FaultInjection, RepliesLongerThanTheReplyArea) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    SetFaults({.longReplies = true});
    auto start = Clock::now();
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), "E1234567");
    // The tail of the last reply is not taken for the answer to this one.
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), "E3.05");
    const std::string item = msg.RequestNumbered(cmd::QPR, 1);
    EXPECT_EQ(item.size(), static_cast<size_t>(CMessageIF::kAreaSize));
    const std::string first = SimPrinterState::DefaultQueryItems()[0];
    EXPECT_EQ(item.substr(0, first.size()), first);
    EXPECT_EQ(item.find_first_not_of('X', first.size()), std::string::npos);
    EXPECT_EQ(msg.RequestNumbered(cmd::QPR, 5), "LAST ERROR: NONE\n" + std::string(1024 - 17, 'X'));
    EXPECT_LT(MsSince(start), kPromptMs);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(FaultInjection, RepliesOneByteAtATime) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    SetFaults({.oneBytePieces = true});
    // The card record is read in a counted loop, so it arrives whole however
    // it is cut.
    const auto record = simcard::BuildRecord(SimPrinterState::DefaultCard(), 7, {});
    auto start = Clock::now();
    msg.SendCommand(cmd::MSV, std::string(1, '\x07'));
    std::vector<uint8_t> buffer(CMessageIF::kCardRecordSize, 0xEE);
    msg.ReadFixedReply(buffer.data());
    EXPECT_LT(MsSince(start), kTimedOutMs);
    EXPECT_EQ(buffer, record);
    EXPECT_TRUE(host.boxes.empty());

    // A status reply split into pieces cannot be told from a short one by a
    // single read; whatever part came, what follows is not spoiled by the rest.
    start = Clock::now();
    const std::optional<std::string> serial = msg.RequestStatus(cmd::MSR);
    EXPECT_LT(MsSince(start), kTimedOutMs);
    if (serial) {
        EXPECT_EQ(std::string("E1234567").substr(0, serial->size()), *serial);
    }
    SetFaults({});
    for (int i = 0; i < 100 && printer->PendingReplyBytes() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), "E3.05");
}

TEST_F(FaultInjection, CardRecordCutShort) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    printer->UpdateState([](SimPrinterState& s) { s.cardRecordFaults.cutAfter = 100; });
    const auto record = simcard::BuildRecord(SimPrinterState::DefaultCard(), 7, {});
    msg.SendCommand(cmd::MSV, std::string(1, '\x07'));
    std::vector<uint8_t> buffer(CMessageIF::kCardRecordSize, 0);
    auto start = Clock::now();
    msg.ReadFixedReply(buffer.data());
    const long long waited = MsSince(start);
    // The loop gives up after one receive time-out and keeps what came.
    EXPECT_GE(waited, kReceiveMs - 50);
    EXPECT_LT(waited, kTimedOutMs);
    std::vector<uint8_t> expected(record.begin(), record.begin() + 100);
    expected.resize(CMessageIF::kCardRecordSize, 0);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), "E3.05");
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(FaultInjection, FirmwareChecksumReplyMissing) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    std::string bytes(5000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
    CMemoryFile image(bytes);

    printer->UpdateState([](SimPrinterState& s) { s.checksumReply = SimChecksumReply::Omitted; });
    auto start = Clock::now();
    EXPECT_EQ(msg.SendFirmwareImage(image), std::nullopt);  // "ACK," carries no CHK field
    EXPECT_LT(MsSince(start), kPromptMs);
    EXPECT_EQ(host.pauses, std::vector<int>{CMessageIF::kFirmwareReplyPauseMs});
    EXPECT_TRUE(host.boxes.empty());
    const auto frames = printer->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, SimFrameKind::Firmware);
    EXPECT_EQ(frames[0].dataLength, 5000u);

    printer->UpdateState([](SimPrinterState& s) { s.checksumReply = SimChecksumReply::Correct; });
    uint32_t sum = 0;
    for (char c : bytes) sum += static_cast<uint8_t>(c);
    EXPECT_EQ(msg.SendFirmwareImage(image), static_cast<int32_t>(sum));
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(FaultInjection, PrinterVanishesBetweenTheWriteAndTheRead) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    // Drops the connection as soon as the request is in.
    SetFaults({.closeOnRequest = true});
    auto start = Clock::now();
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), std::nullopt);
    EXPECT_LT(MsSince(start), kPromptMs);
    // A command after it is not lost in the dead connection: the failed
    // write reconnects (the printer takes new connections again).
    SetFaults({});
    msg.SendCommandAndWait(cmd::MIP, "60:41:1011:1");
    EXPECT_EQ(sheet.rebuilds, 1);
    EXPECT_TRUE(host.pauses.empty());
    EXPECT_EQ(msg.RequestStatus(cmd::FDC), "50");
    msg.SendCommandAndWait(cmd::MIP, "60:41:1011:1");
    EXPECT_EQ(host.pauses, std::vector<int>{CMessageIF::kModifyPauseMs});
    EXPECT_EQ(msg.RequestStatus(cmd::FDC), "60");

    // Switched off during the pause before the firmware reply: the read ends
    // at once instead of waiting for the time-out.
    host.pauses.clear();
    host.onPause = [this](int) { server.Stop(); };
    CMemoryFile image(std::string(4096, 'F'));
    start = Clock::now();
    EXPECT_EQ(msg.SendFirmwareImage(image), std::nullopt);
    EXPECT_LT(MsSince(start), kPromptMs);
    host.onPause = nullptr;

    // Still gone: the next sending form asks Retry/Cancel; Cancel leaves the
    // pages as they are.
    host.boxAnswers = {MsgResult::Cancel};
    start = Clock::now();
    msg.SendModify(cmd::FDC, "10");
    EXPECT_LT(MsSince(start), kPromptMs);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(sheet.rebuilds, 1);
    EXPECT_EQ(host.pauses, std::vector<int>{CMessageIF::kFirmwareReplyPauseMs});
}

}  // namespace

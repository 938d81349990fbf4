// The protocol object over the parallel link and the simulated IEEE 1284
// peripheral: connecting, an identity-style status exchange, a firmware
// image, and what a missing printer or port does.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "links/parallel_if.h"
#include "protocol/message_if.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_printer.h"
#include "support/fake_host.h"

namespace {

// A reply not ready is not asked for again (replyWaitMs 0).
constexpr CParallelIF::WaitLimits kCountedLimits{60000, 200, 60000, 0};

// Records the length of every Write it passes on.
class CountingParallelIF : public CParallelIF {
public:
    using CParallelIF::CParallelIF;
    std::vector<int> writes;
    int opens = 0;
    int Open() override {
        ++opens;
        return CParallelIF::Open();
    }
    int Write(const uint8_t* data, int length) override {
        writes.push_back(length);
        return CParallelIF::Write(data, length);
    }
};

class ParallelProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        msg.SetLinkFactory([this](int kind, const std::string& name) {
            factoryKinds.push_back(kind);
            auto created = std::make_unique<CountingParallelIF>(name, port, kCountedLimits);
            link = created.get();
            return created;
        });
    }

    FakeHost host;
    CMessageIF msg{host};
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    std::shared_ptr<CSimParallelPort> port = std::make_shared<CSimParallelPort>(printer);
    CountingParallelIF* link = nullptr;
    std::vector<int> factoryKinds;
};

TEST_F(ParallelProtocol, IdentityRefreshOverTheParallelPort) {
    printer->SetValue("VRS", "H2.02");
    ASSERT_EQ(msg.SelectPort("LPT1:"), 1);
    EXPECT_EQ(factoryKinds, std::vector<int>{kLinkParallel});
    EXPECT_EQ(link->GetLinkKind(), kLinkParallel);
    EXPECT_EQ(link->PortName(), "LPT1:");
    EXPECT_EQ(msg.GetPrinterFamily(), family::kH);
    EXPECT_TRUE(host.boxes.empty());

    const std::pair<int, std::string> rows[] = {
        {cmd::MSR, "E1234567"}, {cmd::VRS, "H2.02"}, {cmd::PID, "6144"}, {cmd::FDC, "50"},
        {cmd::FSP, "40"},       {cmd::FEP, "1010"},  {cmd::FPP, "0"},    {cmd::MDL, "7"},
    };
    for (const auto& [command, value] : rows) {
        EXPECT_EQ(msg.RequestStatus(command), value) << kCommandTable[command].mnemonic;
    }
    const auto frames = printer->Frames();
    ASSERT_EQ(frames.size(), 9u);  // detection, then the eight above
    EXPECT_EQ(frames[0].mnemonic, "VRS");
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(frames[i + 1].kind, SimFrameKind::Request);
        EXPECT_EQ(frames[i + 1].prefix, "REQ,STA,");
        EXPECT_EQ(frames[i + 1].mnemonic, kCommandTable[rows[i].first].mnemonic);
    }
    // Every request left the port in compatibility mode with nothing unread.
    EXPECT_EQ(port->GetPhase(), CSimParallelPort::Phase::Compatibility);
    EXPECT_EQ(printer->PendingReplyBytes(), 0u);
}

TEST_F(ParallelProtocol, FirmwareImageGoesOneBytePerWrite) {
    ASSERT_EQ(msg.SelectPort("LPT1:"), 1);
    port->SetRecording(false);
    std::string image(2500, '\0');
    uint32_t sum = 0;
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>(i * 31 + 7);
        sum += static_cast<uint8_t>(image[i]);
    }
    link->writes.clear();
    printer->ClearFrames();
    CMemoryFile file(image);
    EXPECT_EQ(msg.SendFirmwareImage(file), static_cast<int32_t>(sum));

    const std::string header = std::string(9, '\x05') + "\x01REQ,FRM2500,\x1C";
    ASSERT_EQ(link->writes.size(), 1u + 2500u + 1u);
    EXPECT_EQ(link->writes[0], static_cast<int>(header.size()));
    for (size_t i = 1; i < link->writes.size(); ++i) ASSERT_EQ(link->writes[i], 1) << i;

    const auto frames = printer->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, SimFrameKind::Firmware);
    EXPECT_EQ(frames[0].dataLength, 2500u);
    EXPECT_EQ(frames[0].data, image);
    EXPECT_EQ(frames[0].dataSum, sum);
}

TEST_F(ParallelProtocol, EveryPortNameDrivesTheSameRegisters) {
    std::vector<std::vector<SimPortAccess>> traces;
    for (const char* name : {"LPT1:", "LPT3:", "LPT4:"}) {
        printer = std::make_shared<CSimPrinter>();
        port = std::make_shared<CSimParallelPort>(printer);
        ASSERT_EQ(msg.SelectPort(name), 1) << name;
        EXPECT_EQ(link->PortName(), name);
        EXPECT_EQ(msg.RequestStatus(cmd::MSR), "E1234567");
        traces.push_back(port->Accesses());
    }
    std::set<uint16_t> addresses;
    for (const auto& access : traces[0]) addresses.insert(access.address);
    EXPECT_EQ(addresses, (std::set<uint16_t>{0x378, 0x379, 0x37A}));
    EXPECT_EQ(traces[1], traces[0]);
    EXPECT_EQ(traces[2], traces[0]);
}

TEST_F(ParallelProtocol, MissingPrinterCostsOneWaitAndSendingFormsReconnect) {
    port->Options().absent = true;
    // The port itself opens: the connection goes through, the detection
    // finds no printer and the family stays as it was.
    ASSERT_EQ(msg.SelectPort("LPT2:"), 1);
    EXPECT_EQ(msg.GetPrinterFamily(), family::kV);
    const uint64_t accessesAfterFirstWait = port->AccessCount();

    // Further reading requests give up at their first look.
    EXPECT_EQ(msg.RequestStatus(cmd::MSR), std::nullopt);
    EXPECT_EQ(msg.RequestStatus(cmd::VRS), std::nullopt);
    EXPECT_LT(port->AccessCount() - accessesAfterFirstWait, 10u);

    // A sending request that cannot be written reconnects: the port opens
    // again, without a message box.
    const int opensBefore = link->opens;
    msg.SendCommand(cmd::UPG);
    EXPECT_EQ(link->opens, opensBefore + 1);
    EXPECT_TRUE(host.boxes.empty());

    // Switched on: the next request reaches it.
    port->Options().absent = false;
    printer->SetValue("VRS", "A4.01");
    msg.DetectPrinterFamily();
    EXPECT_EQ(msg.GetPrinterFamily(), family::kA);
    EXPECT_EQ(link->opens, opensBefore + 1);
}

TEST(ParallelDefaultLink, PortThatCannotBeOpenedAsksRetryOrCancel) {
    if (std::filesystem::exists("/dev/parport0")) {
        GTEST_SKIP() << "this machine has /dev/parport0; the test needs a machine without one";
    }
    tessaly::ProgramState state;
    FakeHost host;
    CParallelIF* link = nullptr;
    CMessageIF msg{host, [&state, &link](int kind, const std::string& name) {
                       // The program's own link factory.
                       std::unique_ptr<CCharacterInterface> made =
                           DefaultLinkFactory(state)(kind, name);
                       link = dynamic_cast<CParallelIF*>(made.get());
                       return made;
                   }};
    host.boxAnswers = {MsgResult::Retry, MsgResult::Cancel};
    EXPECT_EQ(msg.SelectPort("LPT1:"), 0);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, CMessageIF::kConnectFailedText);
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(msg.CurrentLinkKind(), kLinkParallel);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->PortName(), "LPT1:");
}

}  // namespace

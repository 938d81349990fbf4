// The USB link over the simulated backend: the Open sequence with its
// presence check and selection, pipe writes and reads, and a protocol session.

#include "links/usb_device.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "links/program_state.h"
#include "links/usb_discovery.h"
#include "protocol/message_if.h"
#include "sim/sim_usb_backend.h"
#include "support/fake_host.h"
#include "support/frames.h"
#include "support/scripted_selection.h"

namespace {

SimUsbDevice Printer(uint16_t pid, std::string serial) {
    SimUsbDevice device;
    device.productId = pid;
    device.serial = std::move(serial);
    device.printer = std::make_shared<CSimPrinter>();
    return device;
}

class UsbLink : public ::testing::Test {
protected:
    std::unique_ptr<CUSBDevice> MakeLink(uint32_t platform = kPlatformWin32Nt) {
        UsbLinkParts parts{usb, usb, selection, host, state};
        parts.platformId = [platform] { return platform; };
        parts.diagnostics = &diagnostics;
        parts.times = times;
        return std::make_unique<CUSBDevice>(parts);
    }

    UsbLinkTimes times;

    tessaly::ProgramState state;
    std::shared_ptr<CSimUsbBackend> usb = std::make_shared<CSimUsbBackend>();
    ScriptedSelection selection;
    FakeHost host;
    std::ostringstream diagnostics;
};

// --- Open -------------------------------------------------------------------------

TEST_F(UsbLink, NoMakersDeviceTellsTheOperatorAndShowsNoDialog) {
    SimUsbDevice keyboard;
    keyboard.vendorId = 0x046d;
    usb->AddDevice(keyboard);
    auto link = MakeLink();

    EXPECT_EQ(link->Open(), 0);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"No printers connected to USB"});
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_TRUE(selection.shown.empty());
    EXPECT_TRUE(usb->pipeOpens.empty());
}

TEST_F(UsbLink, UnlistableDevicesFailSilently) {
    usb->AddDevice(Printer(0x8801, "A1"));
    usb->enumerationFails = true;
    auto link = MakeLink();
    EXPECT_EQ(link->Open(), 0);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(selection.shown.empty());
}

TEST_F(UsbLink, OlderPlatformWarnsAtEveryOpenAndTakesAnyVendor) {
    SimUsbDevice camera;
    camera.vendorId = 0x04a9;
    camera.printer = std::make_shared<CSimPrinter>();
    const std::string cameraPath = usb->AddDevice(camera);
    auto link = MakeLink(1);

    // The presence check finds the camera; discovery still wants the maker's.
    EXPECT_EQ(link->Open(), 1);
    EXPECT_EQ(link->Open(), 1);
    EXPECT_EQ(host.BoxTexts(), (std::vector<std::string>{
                                   "Please ensure the printer is the only USB device connected",
                                   "Enumeration Failed, Connecting to First Available Device",
                                   "Please ensure the printer is the only USB device connected",
                                   "Enumeration Failed, Connecting to First Available Device"}));
    EXPECT_EQ(usb->pipeOpens.back(), cameraPath + " R");

    // The NT family (Linux counts as one) never warns.
    EXPECT_EQ(LinuxPlatformId(), kPlatformWin32Nt);
    host.boxes.clear();
    auto ntLink = MakeLink(kPlatformWin32Nt);
    link.reset();
    EXPECT_EQ(ntLink->Open(), 0);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"No printers connected to USB"});
}

TEST_F(UsbLink, DialogClosedWithoutChoiceOpensTheFirstFoundPrinter) {
    const std::string first = usb->AddDevice(Printer(0x8801, "A1"));
    usb->AddDevice(Printer(0x9001, "B1"));
    auto link = MakeLink();
    selection.choices = {std::nullopt};

    ASSERT_EQ(link->Open(), 1);
    ASSERT_EQ(selection.shown.size(), 1u);
    EXPECT_EQ(selection.shown[0].lines.size(), 2u);
    EXPECT_EQ(usb->pipeOpens, (std::vector<std::string>{first + " W", first + " R"}));
    EXPECT_TRUE(state.selectedUsbDevicePath.empty());
    EXPECT_TRUE(link->HasWritePipe() && link->HasReadPipe());
}

TEST_F(UsbLink, SecondOpenReusesTheRunsLastSelection) {
    usb->AddDevice(Printer(0x8801, "A1"));
    const std::string second = usb->AddDevice(Printer(0x9001, "B1"));
    selection.choices = {1, std::nullopt};
    {
        auto link = MakeLink();
        ASSERT_EQ(link->Open(), 1);
        EXPECT_EQ(usb->pipeOpens.back(), second + " R");
    }
    // A new link of the same run: its own pipes were released, so the
    // discovery succeeds again, and no new choice keeps the last one.
    usb->pipeOpens.clear();
    auto link = MakeLink();
    ASSERT_EQ(link->Open(), 1);
    EXPECT_TRUE(selection.shown[1].discovered);
    EXPECT_EQ(usb->pipeOpens, (std::vector<std::string>{second + " W", second + " R"}));
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(UsbLink, ReopeningTheSameLinkReleasesItsOwnClaimFirst) {
    usb->AddDevice(Printer(0x8801, "A1"));
    auto link = MakeLink();
    ASSERT_EQ(link->Open(), 1);
    ASSERT_EQ(link->Open(), 1);
    EXPECT_TRUE(selection.shown[1].discovered);
    EXPECT_EQ(usb->OpenPipes(), 2);
    link->Close();
    EXPECT_EQ(usb->OpenPipes(), 0);
}

TEST_F(UsbLink, BusyPrinterElsewhereConnectsToTheFirstAvailable) {
    const std::string first = usb->AddDevice(Printer(0x8801, "A1"));
    usb->AddDevice(Printer(0x9001, "B1"));
    usb->Device(1).busy = true;
    auto link = MakeLink();

    EXPECT_EQ(link->Open(), 1);
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"Enumeration Failed, Connecting to First Available Device"});
    EXPECT_EQ(usb->pipeOpens.back(), first + " R");
}

TEST_F(UsbLink, APipeWhosePartnerFailedIsClosed) {
    for (bool writeFails : {true, false}) {
        SCOPED_TRACE(writeFails ? "write pipe fails" : "read pipe fails");
        auto backend = std::make_shared<CSimUsbBackend>();
        usb = backend;
        usb->AddDevice(Printer(0x8801, "A1"));
        usb->Device(0).writePipeFails = writeFails;
        usb->Device(0).readPipeFails = !writeFails;
        auto link = MakeLink();
        EXPECT_EQ(link->Open(), 0);
        EXPECT_EQ(usb->OpenPipes(), 0);
        EXPECT_FALSE(link->HasWritePipe() || link->HasReadPipe());
        EXPECT_EQ(WriteText(*link, "x"), 0);
    }
}

// --- Write and Read -------------------------------------------------------------

class OpenUsbLink : public UsbLink {
protected:
    void SetUp() override {
        UsbLink::SetUp();
        usb->AddDevice(Printer(0x8801, "A1"));
        link = MakeLink();
        ASSERT_EQ(link->Open(), 1);
    }
    CSimPrinter& Sim() { return *usb->Device(0).printer; }
    std::unique_ptr<CUSBDevice> link;
};

TEST_F(OpenUsbLink, WritesInPiecesOfAtMost50000Bytes) {
    std::string data(120000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    EXPECT_EQ(WriteText(*link, data), 120000);
    EXPECT_EQ(usb->writeLengths, (std::vector<int>{50000, 50000, 20000}));
    EXPECT_EQ(usb->wire, data);
}

TEST_F(OpenUsbLink, ShortPipeWritesContinueWhereTheyStopped) {
    usb->Device(0).bytesPerWrite = 30000;
    std::string data(120000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i / 251);
    EXPECT_EQ(WriteText(*link, data), 120000);
    EXPECT_EQ(usb->writeLengths, (std::vector<int>{50000, 50000, 50000, 30000}));
    EXPECT_EQ(usb->wire, data);
}

TEST_F(OpenUsbLink, APipeThatTakesNothingEndsTheWriteAsFailed) {
    usb->Device(0).bytesPerWrite = 0;
    EXPECT_EQ(WriteText(*link, std::string(1000, 'x')), 0);
    EXPECT_EQ(usb->writeLengths.size(), 1u);
}

TEST_F(OpenUsbLink, AFailedLinkFailsEveryLaterRequestAtOnceUntilOpenedAgain) {
    times.writeStallMs = 150;
    for (const bool readFails : {false, true}) {
        SCOPED_TRACE(readFails ? "a read that moved bytes, then failed"
                               : "a write that moved nothing within the stall limit");
        link = MakeLink();
        usb->Device(0) = Printer(0x8801, "A1");
        ASSERT_EQ(link->Open(), 1);
        usb->Device(0).readFailsWithData = readFails;
        if (!readFails) Sim().UpdateState([](SimPrinterState& s) { s.timing.offAfterFrames = 0; });
        EXPECT_EQ(WriteText(*link, Framed("REQ,STA,VRS")), readFails ? 24 : 0);
        std::vector<uint8_t> area(1024, 0);
        EXPECT_EQ(readFails ? link->Read(area.data(), 1024, 0) : 9, 9);
        EXPECT_TRUE(link->HasFailed());

        // Nothing more reaches the pipes, so nothing waits there.
        usb->writeLengths.clear();
        usb->readTimeouts.clear();
        EXPECT_EQ(WriteText(*link, Framed("REQ,STA,MSR")), 0);
        EXPECT_EQ(link->Read(area.data(), 1024, 0), 0);
        EXPECT_TRUE(usb->writeLengths.empty() && usb->readTimeouts.empty());

        // The reconnect opens afresh, and the printer is reached again.
        usb->Device(0) = Printer(0x8801, "A1");
        ASSERT_EQ(link->Open(), 1);
        EXPECT_EQ(WriteText(*link, Framed("REQ,STA,MSR")), 24);
    }
}

TEST_F(OpenUsbLink, ReadsTheReplyToARequest) {
    const std::string request = Framed("REQ,STA,MSR");
    ASSERT_EQ(WriteText(*link, request), static_cast<int>(request.size()));
    std::vector<uint8_t> area(1024, 0);
    const int n = link->Read(area.data(), 1024, 0);
    ASSERT_GT(n, 0);
    const std::string reply(area.begin(), area.begin() + n);
    EXPECT_NE(reply.find("MSRE1234567"), std::string::npos) << reply;
    EXPECT_TRUE(std::all_of(area.begin() + n, area.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(usb->readTimeouts.front(), UsbLinkTimes{}.readAttemptMs);
}

TEST_F(OpenUsbLink, SilentPrinterReadsNothingAfter100Attempts) {
    usb->Device(0).neverAnswers = true;
    std::vector<uint8_t> area(1024, 0);

    EXPECT_EQ(link->Read(area.data(), 1024, 0), 0);
    EXPECT_EQ(usb->readTimeouts.size(), 100u);
    EXPECT_TRUE(host.pauses.empty());
    // About two seconds of waiting in the pipe.
    EXPECT_EQ(100 * UsbLinkTimes{}.readAttemptMs, 2000);

    usb->readTimeouts.clear();
    EXPECT_EQ(link->Read(area.data(), 1024, 1), 0);
    EXPECT_EQ(usb->readTimeouts.size(), 100u);
    EXPECT_EQ(host.pauses, std::vector<int>(100, 100));
    EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(UsbLink, ReadOrWriteWithoutPipesSaysSoOnStandardOutput) {
    auto link = MakeLink();
    uint8_t area[16] = {};
    EXPECT_EQ(link->Read(area, 16, 0), 0);
    EXPECT_EQ(WriteText(*link, "abc"), 0);
    EXPECT_EQ(diagnostics.str(), "Error: File handle invalid!\nError: File handle invalid!\n");
}

// --- a session through the protocol object ------------------------------------------

TEST_F(UsbLink, ProtocolSessionOverSimulatedUsb) {
    usb->AddDevice(Printer(0x8801, "A1"));
    usb->Device(0).printer->SetValue("VRS", "A4.01");
    CMessageIF protocol(host);
    protocol.SetLinkFactory(
        [this](int kind, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            return kind == kLinkUsb ? MakeLink() : nullptr;
        });
    selection.choices = {0};

    ASSERT_EQ(protocol.SelectPort("USB"), 1);
    EXPECT_EQ(protocol.CurrentLinkKind(), kLinkUsb);
    EXPECT_EQ(protocol.GetPrinterFamily(), family::kA);
    EXPECT_EQ(protocol.RequestStatus(cmd::MSR), "E1234567");
    EXPECT_EQ(state.oemModelName, "VERITONE");

    // Changing port releases the printer.
    protocol.SelectPort("LPT1:");
    EXPECT_EQ(usb->OpenPipes(), 0);
}

// --- the real backend on this machine --------------------------------------------------

TEST_F(UsbLink, SystemBackendWithoutTheMakersPrinters) {
    std::shared_ptr<IUsbBackend> real = MakeSystemUsbBackend();
    std::vector<UsbDeviceInfo> devices;
    ASSERT_TRUE(real->Enumerate(devices));
    for (const UsbDeviceInfo& device : devices) {
        EXPECT_EQ(device.devicePath.rfind("\\\\?\\usb#vid_", 0), 0u) << device.devicePath;
        if (device.vendorId == kMakerUsbVendorId) {
            GTEST_SKIP() << "one of the maker's printers is attached";
        }
    }
    const std::string absent = MakeUsbDevicePath(kMakerUsbVendorId, 0x8801, "NOSUCH");
    EXPECT_FALSE(real->CanOpen(absent));
    EXPECT_FALSE(real->ProbeExclusive(absent));
    EXPECT_EQ(real->OpenPipe(absent, UsbPipeKind::Write), nullptr);

    UsbLinkParts parts{real, usb, selection, host, state};
    CUSBDevice link(parts);
    EXPECT_EQ(link.Open(), 0);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"No printers connected to USB"});
    EXPECT_TRUE(selection.shown.empty());
}

// A printer this user may not open (no udev rule) is not taken for a missing
// one: after the fixed text comes the line that names the rule, whether the
// presence check or the pipes were refused.
class DeniedUsb : public CSimUsbBackend {
public:
    bool deniedAtPresence = true;
    bool CanOpen(const std::string& path) override {
        return !deniedAtPresence && CSimUsbBackend::CanOpen(path);
    }
    std::unique_ptr<IUsbPipe> OpenPipe(const std::string&, UsbPipeKind) override { return nullptr; }
    bool DeniedAccess() const override { return true; }
};

TEST_F(UsbLink, PrinterThisUserMayNotOpenNamesTheUdevRule) {
    for (const bool atPresence : {true, false}) {
        SCOPED_TRACE(atPresence ? "presence check" : "pipes");
        auto denied = std::make_shared<DeniedUsb>();
        denied->deniedAtPresence = atPresence;
        denied->AddDevice(Printer(0x8801, "A1"));
        usb = denied;
        host.boxes.clear();
        auto link = MakeLink();
        EXPECT_EQ(link->Open(), 0);
        const std::vector<std::string> texts = host.BoxTexts();
        ASSERT_EQ(texts.size(), atPresence ? 2u : 1u);
        if (atPresence) {
            EXPECT_EQ(texts.front(), "No printers connected to USB");
        }
        EXPECT_EQ(texts.back(), kUsbNoAccessText);
    }
}

}  // namespace

// The protocol object over every link kind against a printer that takes
// time: a card that needs a moment in the reader, a printer busy for longer
// than a handshake, a reply that comes after the link gave up, and a printer
// that stops taking data in the middle of a transfer. Times are scaled down
// from the real ones, keeping their order: a card read takes longer than one
// Read of the USB and parallel links but less than the receive wait, a busy
// window longer than one handshake or pipe transfer but shorter than the
// write limits.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "links/ethernet_if.h"
#include "links/link_factory.h"
#include "links/parallel_if.h"
#include "links/program_state.h"
#include "links/trace_link.h"
#include "links/usb_device.h"
#include "protocol/message_if.h"
#include "sim/sim_card.h"
#include "sim/sim_link.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_tcp_server.h"
#include "sim/sim_usb_backend.h"
#include "support/fake_host.h"
#include "support/frames.h"
#include "support/scripted_selection.h"
#include "support/time_scale.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class Kind { InProcess, Ethernet, Parallel, Usb };
constexpr Kind kKinds[] = {Kind::InProcess, Kind::Ethernet, Kind::Parallel, Kind::Usb};

const char* Name(Kind kind) {
    switch (kind) {
        case Kind::InProcess:
            return "in-process";
        case Kind::Ethernet:
            return "Ethernet";
        case Kind::Parallel:
            return "LPT";
        case Kind::Usb:
            return "USB";
    }
    return "?";
}

// The receive wait; every other time is a fraction or multiple of it.
int WaitMs() { return 300 * TestTimeScale(); }

// One printer, reached over the link of the given kind.
struct SlowRig {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host;
    ScriptedSelection selection;
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CSimTcpServer server{printer};
    std::shared_ptr<CSimParallelPort> port = std::make_shared<CSimParallelPort>(printer);
    std::shared_ptr<CSimUsbBackend> usb = std::make_shared<CSimUsbBackend>();
    CMessageIF msg{host};

    explicit SlowRig(Kind kind) {
        const int w = WaitMs();
        EXPECT_TRUE(server.Start());
        SimUsbDevice device;
        device.printer = printer;
        usb->AddDevice(device);
        msg.SetLinkFactory([this, kind, w](
                               int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            switch (kind) {
                case Kind::InProcess:
                    return std::make_unique<CSimLink>(printer, CSimLink::Waits{w, 5 * w});
                case Kind::Ethernet:
                    return std::make_unique<CEthernetIF>(
                        state,
                        CEthernetIF::Settings{server.Port(), w, 2000, w, net::kLoopbackAddress});
                case Kind::Parallel:
                    return std::make_unique<CParallelIF>(
                        "LPT1:", port, CParallelIF::WaitLimits{w / 6, 0, 5 * w, w / 4});
                case Kind::Usb: {
                    UsbLinkParts parts{usb, usb, selection, host, state};
                    parts.times = UsbLinkTimes{1, w / 6, 5 * w};
                    return std::make_unique<CUSBDevice>(parts);
                }
            }
            return nullptr;
        });
        EXPECT_EQ(msg.SelectPort(kind == Kind::Ethernet ? "Ethernet"
                                 : kind == Kind::Usb    ? "USB"
                                                        : "LPT1:"),
                  1);
    }

    void Time(const std::function<void(SimTiming&)>& change) {
        printer->UpdateState([&](SimPrinterState& s) { change(s.timing); });
    }
    // Bytes of raw data (a print file) the printer received.
    uint64_t RawBytes() const {
        uint64_t total = 0;
        for (const SimFrame& frame : printer->Frames()) {
            if (frame.kind == SimFrameKind::Raw) total += frame.totalBytes;
        }
        return total;
    }
};

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + i % 23);
    return bytes;
}

}  // namespace

TEST(SlowPrinter, CardReadBusyWindowAndLateReplyOnEveryLink) {
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        SlowRig rig(kind);
        const int w = WaitMs();

        // A card that takes a while in the reader: the whole record arrives,
        // and the next request reads its own value.
        rig.Time([&](SimTiming& t) { t.cardDelayMs = w / 2; });
        rig.msg.SendCommand(cmd::MSV, std::string(1, '\x07'));
        uint8_t record[CMessageIF::kCardRecordSize] = {};
        EXPECT_EQ(rig.msg.ReadFixedReply(record), CMessageIF::kCardRecordSize);
        const SimPrinterState state = rig.printer->GetState();
        EXPECT_EQ(std::vector<uint8_t>(record, record + sizeof record),
                  simcard::BuildRecord(state.card, 7, state.cardRecordFaults));
        EXPECT_EQ(rig.msg.RequestStatus(cmd::MSR), "E1234567");

        // Busy for longer than a handshake step or a pipe transfer takes:
        // a print file and a firmware image arrive whole.
        rig.Time([&](SimTiming& t) {
            t = SimTiming{};
            t.busyMs = w;
            t.busyAfterBytes = 1000;
        });
        CMemoryFile print(Pattern(4000));
        rig.msg.SendFile(print);
        // Over TCP the socket buffers take the file while the printer waits.
        const auto until = Clock::now() + std::chrono::milliseconds(5 * w);
        while (rig.RawBytes() < 4000u && Clock::now() < until) std::this_thread::sleep_for(5ms);
        EXPECT_EQ(rig.RawBytes(), 4000u);
        const std::string image = Pattern(5000);
        CMemoryFile firmware(image);
        EXPECT_EQ(rig.msg.SendFirmwareImage(firmware), static_cast<int32_t>(ByteSum(image)));

        // A reply later than the link waits: lost, but the next requests
        // read their own values, not the one before.
        rig.Time([&](SimTiming& t) {
            t = SimTiming{};
            t.lateReplyMs = 2 * w;
        });
        EXPECT_EQ(rig.msg.RequestStatus(cmd::VRS), std::nullopt);
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * w));
        EXPECT_EQ(rig.msg.RequestStatus(cmd::MSR), "E1234567");
        EXPECT_EQ(rig.msg.RequestStatus(cmd::MDL), "7");
    }
}

TEST(SlowPrinter, PrinterThatStopsTakingDataEndsATransferAtItsFirstFailedWrite) {
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        SlowRig rig(kind);
        rig.Time([](SimTiming& t) { t.offAfterFrames = 0; });
        // Larger than the loopback socket buffers can hold.
        CMemoryFile image(Pattern(32u << 20));
        const auto start = Clock::now();
        EXPECT_EQ(rig.msg.SendFirmwareImage(image), std::nullopt);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(20 * WaitMs()));
        // A progress window that opened closes with the transfer.
        EXPECT_EQ(rig.host.progressEnds, rig.host.progress.empty() ? 0 : 1);
    }
}

TEST(SlowPrinter, EveryWaitOfEveryLinkLetsTheWindowIdle) {
    // A wait that stops pumping freezes the window for all of it: a receive
    // wait, a write stall limit. A slice and scheduling noise stay far
    // below.
    const auto bound = std::chrono::milliseconds(200 * TestTimeScale());
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        SlowRig rig(kind);
        const int w = WaitMs();

        // A reply later than the link waits: the whole receive wait (the
        // USB link's 100 short attempts).
        rig.Time([&](SimTiming& t) { t.lateReplyMs = 2 * w; });
        EXPECT_LE(LongestWithoutIdle(rig.host, [&] { rig.msg.RequestStatus(cmd::VRS); }), bound);

        // A busy window in the middle of a print file, then a printer that
        // takes nothing more: the write waits up to its stall limit.
        rig.Time([&](SimTiming& t) {
            t = SimTiming{};
            t.busyMs = 2 * w;
            t.busyAfterBytes = 1000;
        });
        CMemoryFile print(Pattern(4000));
        EXPECT_LE(LongestWithoutIdle(rig.host, [&] { rig.msg.SendFile(print); }), bound);
        rig.Time([](SimTiming& t) { t.offAfterFrames = 0; });
        CMemoryFile image(Pattern(32u << 20));
        const int idlesBefore = rig.host.idles;
        EXPECT_LE(LongestWithoutIdle(rig.host, [&] { rig.msg.SendFirmwareImage(image); }), bound);
        // The stall limit alone is several slices: no idle call at all would
        // mean the waits never ran.
        EXPECT_GE(rig.host.idles - idlesBefore, 5);
    }
}

TEST(SlowPrinter, TheOperatorsCancelEndsTheWaitAndTheRestOfTheOperationOnEveryLink) {
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        SlowRig rig(kind);
        const int w = WaitMs();
        // The first reply comes later than any link waits; the operator
        // cancels at the first idle call, a slice after the last one.
        rig.Time([&](SimTiming& t) { t.lateReplyMs = 10 * w; });
        rig.printer->ClearFrames();
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleSliceMs));
        rig.host.cancelAtIdle = rig.host.idles + 1;
        const auto start = Clock::now();
        for (int command : {cmd::VRS, cmd::MSR, cmd::MDL, cmd::PID}) {
            EXPECT_EQ(rig.msg.RequestStatus(command), std::nullopt);
        }
        EXPECT_FALSE(rig.msg.SendCommand(cmd::MSR));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(w));
        EXPECT_EQ(rig.printer->Frames().size(), 1u);

        // The next operation goes out again.
        rig.host.cancelled = false;
        EXPECT_TRUE(rig.msg.SendCommand(cmd::MSR));
        // Over TCP the frame is on its way when the write returns.
        const auto until = Clock::now() + std::chrono::milliseconds(5 * w);
        while (rig.printer->Frames().size() < 2u && Clock::now() < until) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(rig.printer->Frames().size(), 2u);
    }
}

TEST(SlowPrinter, ATracedLinkLetsTheWindowIdleAsTheLinkItWraps) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "tessaly-idle-trace.txt";
    {
        FakeHost host;
        auto printer = std::make_shared<CSimPrinter>();
        std::string error;
        std::shared_ptr<CTraceFile> trace = CTraceFile::Open(path.string(), error);
        ASSERT_TRUE(trace) << error;
        CMessageIF msg{host};
        const int w = WaitMs();
        msg.SetLinkFactory(TracedLinkFactory(
            [&](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
                return std::make_unique<CSimLink>(printer, CSimLink::Waits{w, 5 * w});
            },
            trace));
        ASSERT_EQ(msg.SelectPort("LPT1:"), 1);
        printer->UpdateState([&](SimPrinterState& s) { s.timing.lateReplyMs = 2 * w; });
        EXPECT_LE(LongestWithoutIdle(host, [&] { msg.RequestStatus(cmd::VRS); }),
                  std::chrono::milliseconds(200 * TestTimeScale()));
    }
    std::filesystem::remove(path);
}

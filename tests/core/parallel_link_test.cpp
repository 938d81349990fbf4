// The parallel link at register level, against the simulated IEEE 1284
// peripheral and a scripted register double.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "links/link_factory.h"
#include "links/parallel_if.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_printer.h"
#include "support/fake_host.h"
#include "support/frames.h"
#include "support/time_scale.h"

namespace {

using Clock = std::chrono::steady_clock;

// A wait ends after this many status reads, long before the deadline: runs
// do not depend on the machine's speed.
// A reply not ready is not asked for again (replyWaitMs 0).
constexpr CParallelIF::WaitLimits kCountedLimits{60000, 200, 60000, 0};
constexpr uint8_t kRestControl = lpt::kControlInit | lpt::kControlSelectIn;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// One expected register access. For status reads only the bits in `mask`
// are compared: the step waits on, or samples, those lines alone.
struct Expected {
    bool write;
    uint16_t address;
    uint8_t value;
    uint8_t mask;
};

// The link's steps as register accesses, from the port's point of view.
// Each control change is a read of the control register and a write of the
// read value with one bit changed.
class Steps {
public:
    explicit Steps(uint8_t control) : m_control(control) {}

    Steps& Set(uint8_t bit) { return Control(static_cast<uint8_t>(m_control | bit)); }
    Steps& Clear(uint8_t bit) { return Control(static_cast<uint8_t>(m_control & ~bit)); }
    Steps& Data(uint8_t value) {
        m_list.push_back({true, lpt::kDataRegister, value, 0xFF});
        return *this;
    }
    // A wait satisfied at its first read, or the data-available check.
    Steps& Status(uint8_t bit, bool set) {
        m_list.push_back({false, lpt::kStatusRegister, set ? bit : uint8_t{0}, bit});
        return *this;
    }
    // Four reads, one line each: nFault, Select, PError, then Busy inverted.
    Steps& Nibble(uint8_t nibble) {
        Status(lpt::kStatusFault, nibble & 1);
        Status(lpt::kStatusSelect, nibble & 2);
        Status(lpt::kStatusPaperOut, nibble & 4);
        return Status(lpt::kStatusNotBusy, !(nibble & 8));
    }
    Steps& WrittenByte(uint8_t byte) {
        Status(lpt::kStatusNotBusy, true).Data(byte);
        Set(lpt::kControlStrobe).Clear(lpt::kControlStrobe);
        return Status(lpt::kStatusAck, true);
    }
    Steps& Negotiation() {
        Set(lpt::kControlAutoFeed).Clear(lpt::kControlSelectIn).Status(lpt::kStatusAck, false);
        Data(0x00).Set(lpt::kControlStrobe).Clear(lpt::kControlStrobe);
        return Clear(lpt::kControlAutoFeed).Status(lpt::kStatusAck, true);
    }
    Steps& ReceivedByte(uint8_t byte) {
        Status(lpt::kStatusFault, false);  // data available
        Set(lpt::kControlAutoFeed).Status(lpt::kStatusAck, false).Nibble(byte & 0x0F);
        Clear(lpt::kControlAutoFeed).Status(lpt::kStatusAck, true);
        Set(lpt::kControlAutoFeed).Status(lpt::kStatusAck, false).Nibble(byte >> 4);
        return Clear(lpt::kControlAutoFeed).Status(lpt::kStatusAck, true);
    }
    Steps& Termination() {
        Set(lpt::kControlSelectIn).Status(lpt::kStatusAck, false);
        return Set(lpt::kControlAutoFeed)
            .Status(lpt::kStatusAck, true)
            .Clear(lpt::kControlAutoFeed);
    }

    const std::vector<Expected>& List() const { return m_list; }
    uint8_t FinalControl() const { return m_control; }

private:
    Steps& Control(uint8_t next) {
        m_list.push_back({false, lpt::kControlRegister, m_control, 0xFF});
        m_list.push_back({true, lpt::kControlRegister, next, 0xFF});
        m_control = next;
        return *this;
    }
    uint8_t m_control;
    std::vector<Expected> m_list;
};

std::string Token(bool write, uint16_t address, uint8_t value, uint8_t mask) {
    char text[24];
    if (mask == 0xFF) {
        std::snprintf(text, sizeof text, "%c%03X=%02X", write ? 'W' : 'R', address, value);
    } else {
        std::snprintf(text, sizeof text, "R%03X&%02X=%02X", address, mask, value & mask);
    }
    return text;
}

// Both sides as one access per line, the actual reads masked like the
// expected ones, so a mismatch shows as a readable diff.
void ExpectAccesses(const Steps& steps, const std::vector<SimPortAccess>& actual) {
    const auto& expected = steps.List();
    std::string want;
    std::string got;
    for (const Expected& e : expected) want += Token(e.write, e.address, e.value, e.mask) + "\n";
    for (size_t i = 0; i < actual.size(); ++i) {
        const uint8_t mask = i < expected.size() && !actual[i].write ? expected[i].mask : 0xFF;
        got += Token(actual[i].write, actual[i].address, actual[i].value, mask) + "\n";
    }
    EXPECT_EQ(want, got);
}

class ParallelLink : public ::testing::Test {
protected:
    void OpenLink(CParallelIF::WaitLimits limits = kCountedLimits) {
        link = std::make_unique<CParallelIF>("LPT1:", port, limits);
        ASSERT_EQ(link->Open(), 1);
        port->ClearAccesses();
    }
    // A request handed straight to the printer, so its reply is pending.
    void QueueReplyTo(const std::string& request) {
        const std::string frame = Framed(request);
        printer->Receive(Bytes(frame), frame.size());
    }
    int WriteText(const std::string& text) {
        return link->Write(Bytes(text), static_cast<int>(text.size()));
    }
    std::string ReadText(int capacity = 1024) {
        std::vector<uint8_t> area(static_cast<size_t>(capacity), 0);
        const int n = link->Read(area.data(), capacity, 0);
        return n > 0 ? std::string(area.begin(), area.begin() + n) : std::string();
    }
    size_t StatusReads() const {
        size_t n = 0;
        for (const auto& a : port->Accesses()) n += !a.write && a.address == lpt::kStatusRegister;
        return n;
    }
    // Back in compatibility mode with the lines at rest, on both sides.
    void ExpectAtRest() {
        EXPECT_EQ(port->Control(), kRestControl);
        EXPECT_EQ(port->GetPhase(), CSimParallelPort::Phase::Compatibility);
    }

    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    std::shared_ptr<CSimParallelPort> port = std::make_shared<CSimParallelPort>(printer);
    std::unique_ptr<CParallelIF> link;
};

// ---------------------------------------------------------------------------
// Register sequences

TEST_F(ParallelLink, RestStateGoesOnAfterEveryClaim) {
    // The driver resets the control lines at every claim (here to all of
    // bits 0 to 2 set and nSelectIn high): the rest state must follow it.
    std::vector<std::shared_ptr<CSimParallelPort>> claims;
    int refusals = 1;
    const CParallelIF::PortOpener claim = [&]() -> std::shared_ptr<IPortRegisters> {
        if (refusals-- > 0) return nullptr;
        claims.push_back(std::make_shared<CSimParallelPort>(printer, SimParallelOptions{}, 0x07));
        return claims.back();
    };
    CParallelIF parallel("LPT2:", claim);
    EXPECT_EQ(parallel.Open(), 0);  // port busy or not permitted
    EXPECT_FALSE(parallel.IsOpen());
    EXPECT_EQ(parallel.Write(Bytes("x"), 1), 0);
    uint8_t area[4] = {};
    EXPECT_EQ(parallel.Read(area, 4, 0), 0);

    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_EQ(parallel.Open(), 1);
        ASSERT_EQ(claims.size(), static_cast<size_t>(attempt + 1));
        Steps rest(0x07);
        rest.Clear(lpt::kControlStrobe).Clear(lpt::kControlAutoFeed).Set(lpt::kControlSelectIn);
        ExpectAccesses(rest, claims.back()->Accesses());
        EXPECT_EQ(claims.back()->Control(), 0x0C);
        parallel.Close();
        EXPECT_FALSE(parallel.IsOpen());
    }
    EXPECT_EQ(parallel.PortName(), "LPT2:");
}

TEST_F(ParallelLink, OneWrittenByte) {
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    EXPECT_EQ(WriteText("A"), 1);
    Steps steps(kRestControl);
    steps.WrittenByte('A').Status(lpt::kStatusNotBusy, true);
    ExpectAccesses(steps, port->Accesses());
    EXPECT_EQ(port->BytesReceived(), 1u);
}

TEST_F(ParallelLink, NegotiationTransferAndTermination) {
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    QueueReplyTo("REQ,STA,VRS");
    EXPECT_EQ(ReadText(), "VRSE3.05,");

    Steps steps(kRestControl);
    steps.Negotiation();
    for (char c : std::string("VRSE3.05,")) steps.ReceivedByte(static_cast<uint8_t>(c));
    steps.Status(lpt::kStatusFault, true).Termination();
    ExpectAccesses(steps, port->Accesses());
    EXPECT_EQ(port->Requests(), std::vector<uint8_t>{0x00});
    ExpectAtRest();
}

TEST_F(ParallelLink, NoReplyPendingNegotiatesAndTerminatesOnly) {
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    uint8_t area[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(link->Read(area, 8, 1), 0);
    for (uint8_t b : area) EXPECT_EQ(b, 0xEE);

    Steps steps(kRestControl);
    steps.Negotiation().Status(lpt::kStatusFault, true).Termination();
    ExpectAccesses(steps, port->Accesses());
    ExpectAtRest();
}

// ---------------------------------------------------------------------------
// Nibble assembly, against scripted status values

// Status reads come from a script (then the lines of a missing printer);
// the control register is a plain latch.
class ScriptedRegisters : public IPortRegisters {
public:
    std::deque<uint8_t> status;
    uint8_t control = kRestControl;

    uint8_t ReadRegister(uint16_t address) override {
        if (address == lpt::kControlRegister) return control;
        if (address != lpt::kStatusRegister || status.empty()) return 0x7F;
        const uint8_t value = status.front();
        status.pop_front();
        return value;
    }
    void WriteRegister(uint16_t address, uint8_t value) override {
        if (address == lpt::kControlRegister) control = value;
    }
};

TEST(ParallelNibbles, ByteFromTwoNibblesOfFourReadsEach) {
    struct Row {
        const char* name;
        std::array<uint8_t, 4> low;
        std::array<uint8_t, 4> high;
        uint8_t byte;
    };
    const Row rows[] = {
        // Bits 3, 4, 5 set and 7 clear, then bits 3, 4, 5 clear and 7 set.
        {"0x0F", {0x38, 0x38, 0x38, 0x38}, {0x80, 0x80, 0x80, 0x80}, 0x0F},
        {"0xF0", {0x80, 0x80, 0x80, 0x80}, {0x38, 0x38, 0x38, 0x38}, 0xF0},
        // Each bit from its own read: the other lines of each read say the
        // opposite.
        {"0x0F separate reads", {0x88, 0x90, 0xA0, 0x00}, {0x30, 0x28, 0x18, 0xB8}, 0x0F},
        {"0xA5", {0x88, 0x80, 0xA0, 0x80}, {0x80, 0x90, 0x80, 0x00}, 0xA5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto registers = std::make_shared<ScriptedRegisters>();
        // Negotiation: nAck low, then high with nDataAvail low (checked twice).
        registers->status = {0x07, 0x47, 0x47};
        registers->status.push_back(0x00);  // first nibble offered
        registers->status.insert(registers->status.end(), row.low.begin(), row.low.end());
        registers->status.push_back(0x40);  // taken
        registers->status.push_back(0x00);  // second nibble offered
        registers->status.insert(registers->status.end(), row.high.begin(), row.high.end());
        registers->status.push_back(0x48);  // taken, nothing more
        registers->status.push_back(0x48);  // data-available check
        registers->status.push_back(0x08);  // termination: nAck low
        registers->status.push_back(0x48);  // and high
        CParallelIF parallel("LPT1:", registers, kCountedLimits);
        ASSERT_EQ(parallel.Open(), 1);
        uint8_t area[4] = {};
        EXPECT_EQ(parallel.Read(area, 4, 0), 1);
        EXPECT_EQ(area[0], row.byte);
        EXPECT_TRUE(registers->status.empty());
        EXPECT_EQ(registers->control, kRestControl);
    }
}

// ---------------------------------------------------------------------------
// Time limits

TEST_F(ParallelLink, MissingOrHungPrinterFailsWithinOneWaitThenAtOnce) {
    struct Row {
        const char* name;
        SimParallelOptions options;
    };
    const Row rows[] = {
        {"absent", {.absent = true}},
        {"stuck busy", {.stuckBusy = true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        port = std::make_shared<CSimParallelPort>(printer, row.options);
        ASSERT_NO_FATAL_FAILURE(OpenLink());
        // Write gives up after one full wait and reports the link as failed.
        EXPECT_EQ(WriteText(Framed("REQ,STA,VRS")), 0);
        EXPECT_EQ(StatusReads(), static_cast<size_t>(kCountedLimits.maxPolls));
        // Then the printer counts as gone: one look per wait.
        port->ClearAccesses();
        EXPECT_EQ(WriteText(Framed("REQ,STA,VRS")), 0);
        EXPECT_EQ(StatusReads(), 1u);
        port->ClearAccesses();
        EXPECT_EQ(ReadText(), "");
        EXPECT_EQ(port->Control(), kRestControl);

        // Switched on again (answering at once): the next request goes
        // through.
        port->Options() = SimParallelOptions{};
        printer->ClearFrames();
        EXPECT_EQ(WriteText(Framed("REQ,STA,VRS")), 24);
        EXPECT_EQ(ReadText(), "VRSE3.05,");
        EXPECT_EQ(printer->Frames().size(), 1u);
        ExpectAtRest();
    }
}

TEST_F(ParallelLink, SlowPrinterIsWaitedForUpToTheLimit) {
    port->Options().responseReads = kCountedLimits.maxPolls / 2;
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    EXPECT_EQ(WriteText(Framed("REQ,STA,MSR")), 24);
    EXPECT_EQ(ReadText(), "MSRE1234567,");
    ExpectAtRest();

    // Slower than the limit: the first byte finds the printer ready, the
    // second finds it still busy.
    port->Options().responseReads = kCountedLimits.maxPolls + 10;
    const uint64_t before = port->BytesReceived();
    EXPECT_EQ(WriteText(Framed("REQ,STA,VRS")), 0);
    EXPECT_EQ(port->BytesReceived() - before, 1u);
}

// Passes register accesses through, and hangs the printer (Busy stuck) once
// a given number of bytes has been written to the data register.
class HangAfterBytes : public IPortRegisters {
public:
    HangAfterBytes(std::shared_ptr<CSimParallelPort> port, int bytes)
        : m_port(std::move(port)), m_left(bytes) {}
    uint8_t ReadRegister(uint16_t address) override { return m_port->ReadRegister(address); }
    void WriteRegister(uint16_t address, uint8_t value) override {
        m_port->WriteRegister(address, value);
        if (address == lpt::kDataRegister && --m_left == 0) m_port->Options().stuckBusy = true;
    }

private:
    std::shared_ptr<CSimParallelPort> m_port;
    int m_left;
};

TEST_F(ParallelLink, PrinterHangingInTheMiddleOfAFrameFailsTheWrite) {
    link = std::make_unique<CParallelIF>("LPT1:", std::make_shared<HangAfterBytes>(port, 5),
                                         kCountedLimits);
    ASSERT_EQ(link->Open(), 1);
    EXPECT_EQ(WriteText(Framed("REQ,STA,VRS")), 0);
    EXPECT_EQ(port->BytesReceived(), 4u);
}

TEST_F(ParallelLink, PrinterStallingInTheMiddleOfAReplyKeepsWhatCame) {
    port->Options().stallAfterReplyBytes = 3;
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    QueueReplyTo("REQ,STA,VRS");
    EXPECT_EQ(ReadText(), "VRS");
    ExpectAtRest();
}

TEST_F(ParallelLink, AbsentPrinterCostsOneLongWaitThenEachRequestLooksOnce) {
    // Busy floats high with nothing on the cable, as it is high on a busy
    // printer: the first Write waits the long limit, later ones (after a
    // reconnect too) look once. A Read still waits its reply wait, as a
    // reader reading on through empty reads relies on, but looks at the
    // lines only once a slice, with the window idling between.
    using namespace std::chrono_literals;
    port->Options().absent = true;
    const int replyWaitMs = 200;
    ASSERT_NO_FATAL_FAILURE(OpenLink({1000, 0, 300, replyWaitMs}));
    port->SetRecording(false);
    auto start = Clock::now();
    EXPECT_EQ(WriteText("x"), 0);
    const auto first = Clock::now() - start;
    EXPECT_GE(first, 300ms);
    EXPECT_LT(first, 800ms * TestTimeScale());
    start = Clock::now();
    ASSERT_EQ(link->Open(), 1);
    EXPECT_EQ(WriteText("y"), 0);
    EXPECT_LT(Clock::now() - start, 100ms * TestTimeScale());

    FakeHost host;
    link->SetIdleHost(&host);
    port->SetRecording(true);
    port->ClearAccesses();
    start = Clock::now();
    std::string reply = "unread";
    EXPECT_LE(LongestWithoutIdle(host, [&] { reply = ReadText(); }), 100ms * TestTimeScale());
    EXPECT_EQ(reply, "");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(replyWaitMs));
    EXPECT_LE(StatusReads(), static_cast<size_t>(4 * replyWaitMs / kIdleSliceMs));
}

// ---------------------------------------------------------------------------
// Capacity

TEST_F(ParallelLink, ReplyBeyondCapacityIsReadAndDropped) {
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    printer->UpdateState([](SimPrinterState& s) { s.faults.longReplies = true; });
    QueueReplyTo("REQ,STA,VRS");
    ASSERT_EQ(printer->PendingReplyBytes(), CSimPrinter::kLongReplySize);

    std::vector<uint8_t> area(1100, 0xEE);
    EXPECT_EQ(link->Read(area.data(), 1024, 0), 1024);
    EXPECT_EQ(std::string(area.begin(), area.begin() + 9), "VRSE3.05,");
    for (size_t i = 1024; i < area.size(); ++i) ASSERT_EQ(area[i], 0xEE) << i;
    EXPECT_EQ(printer->PendingReplyBytes(), 0u);
    ExpectAtRest();

    // The next reply starts clean.
    printer->UpdateState([](SimPrinterState& s) { s.faults.longReplies = false; });
    QueueReplyTo("REQ,STA,MDL");
    EXPECT_EQ(ReadText(4), "MDL7");
    EXPECT_EQ(printer->PendingReplyBytes(), 0u);
    QueueReplyTo("REQ,STA,PID");
    EXPECT_EQ(ReadText(), "PID6144,");
}

TEST_F(ParallelLink, EndlessReplyIsDroppedOnlyUpToABound) {
    ASSERT_NO_FATAL_FAILURE(OpenLink());
    port->SetRecording(false);
    printer->SetValue("MSR", std::string(40000, '9'));
    QueueReplyTo("REQ,STA,MSR");
    const size_t offered = printer->PendingReplyBytes();
    EXPECT_EQ(ReadText(), "MSR" + std::string(1021, '9'));
    EXPECT_EQ(printer->PendingReplyBytes(), offered - 1024 - CParallelIF::kMaxDroppedBytes);
    ExpectAtRest();
}

TEST(ParallelPortName, NumberFromTheName) {
    const std::pair<const char*, std::optional<int>> rows[] = {
        {"LPT1:", 1},
        {"LPT4:", 4},
        {"lpt2", 2},
        {"LPT5:", std::nullopt},
        {"LPT0:", std::nullopt},
        {"LPT12:", std::nullopt},
        {"LPT:", std::nullopt},
        {"LPT+1:", std::nullopt},
        {"USB", std::nullopt},
    };
    for (const auto& [name, number] : rows) EXPECT_EQ(ParallelPortNumber(name), number) << name;
    // A link assembled for the name's endpoint carries that name.
    tessaly::ProgramState state;
    const auto link = MakeLink(EndpointFor(kLinkParallel, "LPT3:"), LinkParts{state});
    EXPECT_EQ(dynamic_cast<CParallelIF&>(*link).PortName(), "LPT3:");
}

}  // namespace

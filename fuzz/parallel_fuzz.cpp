// The parallel link's reverse channel over the simulated IEEE 1284
// peripheral: a reply of any bytes and length, a caller's area of any size, a
// slow printer and one that stalls in the middle of a reply. Read must store
// nothing past the area, hand back exactly the reply's first bytes, and leave
// the link fit for the next exchange.
//
// Input: options byte, stall byte, capacity (2 bytes), then the reply.

#include <cstring>

#include "fuzz/fuzz_support.h"
#include "links/parallel_if.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_printer.h"
#include "support/frames.h"

namespace {

// Counted waits keep each run short and the same every time; a reply not
// ready is not asked for again.
constexpr CParallelIF::WaitLimits kLimits{60000, 64, 60000, 0};
constexpr size_t kMaxReply = 4096;

int Write(CParallelIF& link, const std::string& bytes) {
    return link.Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<int>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t options = in.Byte();
    const uint8_t stall = in.Byte();
    const int capacity = in.Range(1, 2048);
    const std::string reply = in.Bytes(kMaxReply);

    SimPrinterState state;
    state.queryItems = {reply};
    auto printer = std::make_shared<CSimPrinter>(std::move(state));
    SimParallelOptions simOptions;
    simOptions.responseReads = options & 3;
    const bool stalls = (options & 4) != 0;
    if (stalls) simOptions.stallAfterReplyBytes = stall;
    auto port = std::make_shared<CSimParallelPort>(printer, simOptions);
    port->SetRecording(false);

    CParallelIF link("LPT1:", port, kLimits);
    FUZZ_CHECK(link.Open() == 1);
    const std::string request = Framed("QPR1");
    FUZZ_CHECK(Write(link, request) == static_cast<int>(request.size()));

    // The area on the heap at its exact size, with a guard check after.
    std::unique_ptr<uint8_t[]> area(new uint8_t[static_cast<size_t>(capacity)]);
    std::memset(area.get(), 0, static_cast<size_t>(capacity));
    const int n = link.Read(area.get(), capacity, 0);

    size_t expected = std::min(reply.size(), static_cast<size_t>(capacity));
    if (stalls) expected = std::min<size_t>(expected, stall);
    if (expected == 0) {
        FUZZ_CHECK(n <= 0);
    } else {
        FUZZ_CHECK(n == static_cast<int>(expected));
        FUZZ_CHECK(std::memcmp(area.get(), reply.data(), expected) == 0);
    }
    // Back in compatibility mode whatever happened.
    FUZZ_CHECK(port->GetPhase() == CSimParallelPort::Phase::Compatibility);

    // The next exchange is not spoiled by what this one left, unless the
    // printer itself still holds the rest of a stalled reply.
    if (!stalls || reply.size() <= stall) {
        port->Options().stallAfterReplyBytes = -1;
        const std::string status = Framed("REQ,STA,VRS");
        FUZZ_CHECK(Write(link, status) == static_cast<int>(status.size()));
        uint8_t next[1024] = {};
        const int m = link.Read(next, sizeof next, 0);
        FUZZ_CHECK(m == 9 && std::memcmp(next, "VRSE3.05,", 9) == 0);
    }
    link.Close();
    return 0;
}

// The simulated printer's input side: the frame parser and the printer
// behind it, fed any byte stream. The frames found must not depend on where
// the stream was cut (Raw pieces joined), memory stays bounded, and every
// frame is as long as the bytes it covers.
//
// Input: a byte choosing the cuts, then the stream.

#include <charconv>

#include "fuzz/fuzz_support.h"
#include "sim/sim_frame_parser.h"
#include "sim/sim_printer.h"

namespace {

// Raw continuations joined, as the printer records them.
std::vector<SimFrame> Joined(const std::vector<CSimFrameParser::Output>& pieces) {
    std::vector<SimFrame> frames;
    for (const auto& piece : pieces) {
        if (piece.continuation) {
            FUZZ_CHECK(!frames.empty() && frames.back().kind == SimFrameKind::Raw);
            SimFrame& raw = frames.back();
            const size_t room = CSimFrameParser::kMaxRecordedBytes -
                                std::min(raw.bytes.size(), CSimFrameParser::kMaxRecordedBytes);
            raw.bytes.append(piece.frame.bytes, 0, room);
            raw.totalBytes += piece.frame.totalBytes;
        } else {
            frames.push_back(piece.frame);
        }
    }
    return frames;
}

void CheckFrame(const SimFrame& frame) {
    // The record holds the frame's first bytes; a frame is never empty.
    FUZZ_CHECK(frame.totalBytes >= 1);
    FUZZ_CHECK(frame.bytes.size() <= frame.totalBytes);
    FUZZ_CHECK(frame.bytes.size() <=
               CSimFrameParser::kMaxRecordedBytes + CSimFrameParser::kMaxBody + 128);
    FUZZ_CHECK(frame.data.size() <= CSimFrameParser::kMaxRecordedBytes);
    FUZZ_CHECK(frame.data.size() <= frame.dataLength);
    if (frame.kind == SimFrameKind::Firmware) {
        // The payload is exactly as long as the header promised.
        uint64_t promised = 0;
        const char* first = frame.parameter.data();
        const char* last = first + frame.parameter.size();
        auto [end, error] = std::from_chars(first, last, promised);
        FUZZ_CHECK(error == std::errc{} && end == last && promised == frame.dataLength);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t cutSeed = in.Byte();
    const std::string stream = in.Rest();
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());

    CSimFrameParser whole;
    std::vector<CSimFrameParser::Output> wholeOut;
    whole.Feed(bytes, stream.size(), wholeOut);

    // The same stream in pieces of 1 to 64 bytes, the sizes drawn from the seed.
    CSimFrameParser cut;
    std::vector<CSimFrameParser::Output> cutOut;
    uint32_t state = cutSeed * 2654435761u + 1;
    for (size_t at = 0; at < stream.size();) {
        state = state * 1664525u + 1013904223u;
        const size_t piece = std::min<size_t>(1 + (state >> 26), stream.size() - at);
        cut.Feed(bytes + at, piece, cutOut);
        at += piece;
    }

    const std::vector<SimFrame> a = Joined(wholeOut);
    const std::vector<SimFrame> b = Joined(cutOut);
    FUZZ_CHECK(a.size() == b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        FUZZ_CHECK(a[i] == b[i]);
        CheckFrame(a[i]);
    }

    // The printer behind the parser answers what it recognised and stays
    // within its bounds.
    CSimPrinter printer;
    printer.StartConnection();
    for (size_t at = 0; at < stream.size(); at += 97) {
        printer.Receive(bytes + at, std::min<size_t>(97, stream.size() - at));
        FUZZ_CHECK(printer.PendingReplyBytes() <= CSimPrinter::kMaxPendingReply);
    }
    FUZZ_CHECK(printer.Frames().size() <= CSimPrinter::kMaxFrames);
    uint8_t reply[4096];
    size_t drained = 0;
    while (size_t n = printer.TakeReply(reply, sizeof reply)) drained += n;
    FUZZ_CHECK(printer.PendingReplyBytes() == 0);
    FUZZ_CHECK(drained <= CSimPrinter::kMaxPendingReply);
    return 0;
}

// tessaly-printer-sim: the simulated card printer on a TCP port of 127.0.0.1,
// for trying the program without a printer. Connect to it by choosing
// "Ethernet" and entering 127.0.0.1 (the port must be 9100 for the program).

#include <pthread.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"

namespace {

constexpr uint16_t kDefaultPort = 9100;
// Longer frames (firmware images, print files) are cut in the log.
constexpr size_t kMaxDumpBytes = 512;

const char* const kUsage =
    "usage: tessaly-printer-sim [options]\n"
    "  --port N               TCP port on 127.0.0.1 (default 9100, 0 = any free port)\n"
    "  --log-frames           print every frame received, with a hex dump\n"
    "  --family-version V     the VRS value; its first letter is the family (default E3.05)\n"
    "  --serial S             the MSR value\n"
    "  --pid N                the product id (6144 and 36864-36867 have Ethernet)\n"
    "  --model N              the MDL model code\n"
    "  --value MN=TEXT        any status value\n"
    "  --track1|--track2|--track3 TEXT   the card's magnetic tracks (data only)\n"
    "  --checksum correct|omitted|wrong  the reply to a firmware image\n"
    "  --never-end            answer '@@@' instead of END after the last query item\n"
    "  --fault silent|close|garbage|one-byte|long|hang-up   misbehave (repeatable)\n";

bool ParseNumber(std::string_view text, long long& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

void PrintFrame(const SimFrame& frame) {
    std::string summary = frame.prefix + frame.mnemonic + frame.parameter;
    for (char& c : summary) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '.';
    }
    if (summary.size() > 80) summary = summary.substr(0, 80) + "...";
    std::printf("<- %s %s (%llu bytes)\n", SimFrameKindName(frame.kind), summary.c_str(),
                static_cast<unsigned long long>(frame.totalBytes));
    size_t shown = std::min(frame.bytes.size(), kMaxDumpBytes);
    for (size_t line = 0; line < shown; line += 16) {
        std::printf("   %04zx ", line);
        for (size_t i = line; i < line + 16; ++i) {
            if (i < shown) {
                std::printf(" %02x", static_cast<unsigned char>(frame.bytes[i]));
            } else {
                std::printf("   ");
            }
        }
        std::printf("  ");
        for (size_t i = line; i < line + 16 && i < shown; ++i) {
            auto c = static_cast<unsigned char>(frame.bytes[i]);
            std::putchar(c >= 0x20 && c < 0x7F ? c : '.');
        }
        std::putchar('\n');
    }
    if (frame.totalBytes > shown) {
        std::printf("   ... %llu more bytes\n",
                    static_cast<unsigned long long>(frame.totalBytes - shown));
    }
    std::fflush(stdout);
}

bool ApplyFault(std::string_view name, SimFaults& faults) {
    if (name == "silent") {
        faults.silent = true;
    } else if (name == "close") {
        faults.closeOnRequest = true;
    } else if (name == "garbage") {
        faults.garbageReplies = true;
    } else if (name == "one-byte") {
        faults.oneBytePieces = true;
    } else if (name == "long") {
        faults.longReplies = true;
    } else if (name == "hang-up") {
        faults.hangUpMidReply = true;
    } else {
        return false;
    }
    return true;
}

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "tessaly-printer-sim: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimPrinterState state;
    long long port = kDefaultPort;
    bool logFrames = false;

    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto needNumber = [&](long long& value) {
            const char* text = next();
            return text != nullptr && ParseNumber(text, value);
        };
        long long number = 0;
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--log-frames") {
            logFrames = true;
        } else if (option == "--never-end") {
            state.numberedTailReply = "@@@";
        } else if (option == "--port") {
            if (!needNumber(port) || port < 0 || port > 65535) return Usage("bad --port");
        } else if (option == "--pid" || option == "--model") {
            if (!needNumber(number)) return Usage("expected a number");
            state.values[option == "--pid" ? "PID" : "MDL"] = std::to_string(number);
        } else if (option == "--family-version" || option == "--serial") {
            const char* text = next();
            if (text == nullptr) return Usage("expected a value");
            state.values[option == "--serial" ? "MSR" : "VRS"] = text;
        } else if (option == "--value") {
            const char* text = next();
            const char* equals = text ? std::strchr(text, '=') : nullptr;
            if (equals == nullptr || equals == text) return Usage("expected --value MN=TEXT");
            state.values[std::string(text, equals)] = equals + 1;
        } else if (option == "--track1" || option == "--track2" || option == "--track3") {
            const char* text = next();
            if (text == nullptr) return Usage("expected track data");
            state.card[static_cast<size_t>(option.back() - '1')].data = text;
        } else if (option == "--checksum") {
            const char* text = next();
            std::string_view mode = text ? text : "";
            if (mode == "correct") {
                state.checksumReply = SimChecksumReply::Correct;
            } else if (mode == "omitted") {
                state.checksumReply = SimChecksumReply::Omitted;
            } else if (mode == "wrong") {
                state.checksumReply = SimChecksumReply::Wrong;
            } else {
                return Usage("expected --checksum correct|omitted|wrong");
            }
        } else if (option == "--fault") {
            const char* text = next();
            if (text == nullptr || !ApplyFault(text, state.faults)) return Usage("unknown fault");
        } else {
            return Usage(("unknown option " + std::string(option)).c_str());
        }
    }

    // Block the stop signals before the serving thread exists so that only
    // sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto printer = std::make_shared<CSimPrinter>(std::move(state));
    if (logFrames) printer->SetFrameObserver(PrintFrame);
    CSimTcpServer server(printer);
    std::string error;
    if (!server.Start(static_cast<uint16_t>(port), &error)) {
        std::fprintf(stderr, "tessaly-printer-sim: cannot listen on 127.0.0.1:%lld: %s\n", port,
                     error.c_str());
        return 1;
    }
    std::printf("tessaly-printer-sim: listening on 127.0.0.1:%u (VRS %s, PID %s)\n",
                static_cast<unsigned>(server.Port()), printer->Value("VRS").value_or("").c_str(),
                printer->Value("PID").value_or("").c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    std::printf("tessaly-printer-sim: stopped (%s)\n", received == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}

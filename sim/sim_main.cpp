// tessaly-printer-sim: the simulated card printer on a TCP port of 127.0.0.1,
// for trying the program without a printer. Connect to it by choosing
// "Ethernet" and entering 127.0.0.1 (the port must be 9100 for the program).

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "seams/text_scan.h"
#include "sim/sim_gadget_server.h"
#include "sim/sim_options.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"
#include "sim/stop_request.h"

namespace {

constexpr uint16_t kDefaultPort = 9100;
// Longer frames (firmware images, print files) are cut in the log.
constexpr size_t kMaxDumpBytes = 512;

constexpr const char* kProgram = "tessaly-printer-sim";

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

int Usage(const std::string& problem, const CLI::App& app) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, problem.c_str(), app.help().c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimPrinterState state;
    long long port = kDefaultPort;
    bool logFrames = false;
    std::string gadget;

    CLI::App app("The simulated card printer on a TCP port of 127.0.0.1.", kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " + TESSALY_VERSION);
    app.add_option_function<std::string>(
           "--port", [&port](const std::string& text) { port = *textscan::WholeNumber(text); },
           "TCP port on 127.0.0.1 (0 = any free port)")
        ->check(CLI::Validator(
            [](std::string& text) {
                const long long value = textscan::WholeNumber(text).value_or(-1);
                return value >= 0 && value <= 65535 ? std::string()
                                                    : std::string("expected a port (0 to 65535)");
            },
            ""))
        ->type_name("N")
        ->default_str(std::to_string(kDefaultPort));
    app.add_flag("--log-frames", logFrames, "print every frame received, with a hex dump");
    app.add_option("--gadget", gadget,
                   "serve a Linux USB printer gadget (/dev/g_printer0) instead of TCP")
        ->type_name("DEVICE")
        ->check(CLI::Validator(
            [](std::string& text) { return text.empty() ? "expected a device" : std::string(); },
            ""));
    AddSimPrinterOptions(app, state);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("%s %s\n", kProgram, TESSALY_VERSION);
        return 0;
    } catch (const CLI::ParseError& e) {
        return Usage(e.what(), app);
    }

    // Before the serving thread exists, so that only the wait below sees a
    // stop request.
    PrepareForStopRequest();

    auto printer = std::make_shared<CSimPrinter>(std::move(state));
    if (logFrames) printer->SetFrameObserver(PrintFrame);
    if (!gadget.empty()) {
        CSimGadgetServer server(printer);
        std::string error;
        if (!server.Start(gadget, &error)) {
            std::fprintf(stderr, "tessaly-printer-sim: cannot serve %s: %s\n", gadget.c_str(),
                         error.c_str());
            return 1;
        }
        std::printf("tessaly-printer-sim: serving the USB gadget %s (VRS %s, PID %s)\n",
                    gadget.c_str(), printer->Value("VRS").value_or("").c_str(),
                    printer->Value("PID").value_or("").c_str());
        std::fflush(stdout);
        const std::string request = WaitForStopRequest();
        server.Stop();
        std::printf("tessaly-printer-sim: stopped (%s)\n", request.c_str());
        return 0;
    }
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

    const std::string request = WaitForStopRequest();
    server.Stop();
    std::printf("tessaly-printer-sim: stopped (%s)\n", request.c_str());
    return 0;
}

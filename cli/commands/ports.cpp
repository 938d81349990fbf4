// ports: the USB printers and parallel ports this machine offers.

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "links/program_state.h"
#ifndef _WIN32
#include "links/ppdev_port.h"
#endif
#include "links/usb_discovery.h"
#include "links/usb_selection.h"
#include "sim/simulated_printer_ports.h"

namespace {

int ListPorts(const CommonOptions& options, const Surroundings& around) {
    tessaly::ProgramState state;
    CliHostOptions hostOptions;
    hostOptions.sleep = around.environment.sleep;
    CCliHost host(around.err, hostOptions);
    std::unique_ptr<CSimulatedPrinterPorts> simulated;
    std::shared_ptr<IUsbBackend> backend;
    std::shared_ptr<IPrintQueueSource> queues;
    if (options.simulated) {
        simulated = std::make_unique<CSimulatedPrinterPorts>(options.simState);
        backend = simulated->UsbBackend();
        queues = simulated->UsbBackend();
    } else {
        backend = MakeSystemUsbBackend();
        queues = MakeSystemPrintQueues();
    }
    CUsbDiscovery discovery(*backend, *queues, state);
    const bool found = discovery.DiscoverUsbPrinters("") != 0;
    Json usb = Json::array();
    std::vector<std::string> lines;
    for (int i = 0; found && i <= state.usbPrinterLastIndex; ++i) {
        const tessaly::UsbPrinterEntry& entry = state.usbPrinterTable[static_cast<size_t>(i)];
        if (entry.devicePath.empty()) continue;
        const std::string line = BuildUsbPrinterLabel(entry, state);
        // The path names the product ID in hexadecimal.
        char* end = nullptr;
        const long productId = std::strtol(entry.pidText.c_str(), &end, 16);
        usb.push_back(
            {{"serial", Utf8(entry.instanceSegment)},
             {"product_id",
              entry.pidText.empty() || *end != '\0' ? Json(nullptr) : ProductIdJson(productId)},
             {"queue", Utf8(entry.printerName)},
             {"line", Utf8(line)}});
        lines.push_back("USB " + Utf8(entry.instanceSegment) + ": " + Utf8(line));
    }
    if (usb.empty()) lines.push_back("USB: no printers");
    // Each LPT name has its own node; a simulated printer answers on all four.
    Json lpt = Json::array();
    std::string parallelText;
    for (const char* name : {"LPT1:", "LPT2:", "LPT3:", "LPT4:"}) {
        std::string shown = "simulated";
        if (!options.simulated) {
#ifdef _WIN32
            continue;
#else
            const std::optional<std::string> node = ParallelDevicePath(name);
            std::error_code error;
            if (!node || !std::filesystem::exists(*node, error)) continue;
            shown = *node;
#endif
        }
        lpt.push_back(name);
        parallelText += std::string(parallelText.empty() ? " " : ", ") + name + " (" + shown + ")";
    }
    lines.push_back("Parallel:" + (parallelText.empty() ? std::string(" none") : parallelText));
    if (options.json) {
        around.out.Write(Envelope(std::nullopt, "ports", cli_exit::kDone, Json::array(),
                                  Json{{"usb", usb}, {"parallel", lpt}})
                             .dump(2, ' ', false, Json::error_handler_t::replace) +
                         "\n");
    } else {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        around.out.Write(text);
    }
    return cli_exit::kDone;
}

}  // namespace

void AddPortsCommand(CommandLine& line) {
    Command ports{"ports"};
    ports.whole = ListPorts;
    AddCommand(line, "list the USB printers with their print queues, and the parallel ports",
               std::move(ports));
}

#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "links/character_interface.h"
#include "links/ethernet_if.h"
#include "links/program_state.h"

class IHostServices;
class IPortRegisters;
class IPrintQueueSource;
class IUsbBackend;
class IUsbSelectionRunner;

// Where a link goes.
struct LinkEndpoint {
    int kind = kLinkEthernet;
    // Ethernet. No address: the program-wide one (ProgramState), read at
    // every connect, so a new address entered in the window takes effect at
    // the next connect.
    std::optional<uint32_t> address = std::nullopt;
    uint16_t port = CEthernetIF::kPrinterPort;
    // USB: the printer with this serial, or the only one when empty; used
    // when no selection runner is given (LinkParts::selection).
    std::string serial = {};
    // Parallel: LPT1: to LPT4:.
    int lpt = 1;
};

// The endpoint a port name of the Comms page stands for ("Ethernet", "USB",
// "LPT1:" to "LPT4:"), with the program-wide address.
LinkEndpoint EndpointFor(int kind, const std::string& portName);

// What links are built from besides their endpoint. Everything referred to
// must outlive every link built from it.
struct LinkParts {
    tessaly::ProgramState& state;
    // USB: without a host, or without a backend, USB links never open.
    IHostServices* host = nullptr;
    std::shared_ptr<IUsbBackend> usbBackend = nullptr;
    std::shared_ptr<IPrintQueueSource> queues = nullptr;
    // Chooses among the USB printers (the window's dialog); none: the
    // endpoint's serial chooses.
    IUsbSelectionRunner* selection = nullptr;
    // Where the USB link's diagnostic line goes; none: standard output.
    std::ostream* usbDiagnostics = nullptr;
    // Parallel: the port's registers; none: the machine's port of the
    // endpoint's number.
    std::shared_ptr<IPortRegisters> parallelPort = nullptr;
    // Ethernet: every link goes here whatever the endpoint says (the
    // simulated printer's TCP side on the loopback).
    struct Peer {
        uint32_t address;
        uint16_t port;
    };
    std::optional<Peer> ethernetPeer = std::nullopt;
    int receiveWaitMs = CEthernetIF::kReceiveTimeoutMs;
};

// The one place a link is built: the window, the command line and the
// simulated printer all come here.
std::unique_ptr<CCharacterInterface> MakeLink(const LinkEndpoint& endpoint, const LinkParts& parts);

// Creates the link for a port name; `kind` is the link kind the name maps to.
// The application chooses the factory and hands it to the protocol object, so
// tests and the simulated printer put their own links behind the same object.
using LinkFactory =
    std::function<std::unique_ptr<CCharacterInterface>(int kind, const std::string& portName)>;

// Links built from `parts` for whatever port the protocol object selects.
LinkFactory PortLinkFactory(LinkParts parts);

// The factory for the real links: Ethernet on port 9100, parallel. USB needs
// the desktop's selection dialog, so this one's USB link never opens.
// `state` must outlive the protocol object.
LinkFactory DefaultLinkFactory(tessaly::ProgramState& state);
// The same with USB: libusb, the CUPS print queues, and the selection dialog
// run by `selection`. `state`, `host` and `selection` must outlive the
// protocol object.
LinkFactory DefaultLinkFactory(tessaly::ProgramState& state, IHostServices& host,
                               IUsbSelectionRunner& selection);
// Gives `parts` the machine's USB devices and print queues: one session for
// every link built from them.
void AddSystemUsb(LinkParts& parts);

class CTraceFile;
// Puts a trace link (links/trace_link.h) in front of every link `inner`
// makes, recording into `trace`; `printer` labels the records (empty: none).
LinkFactory TracedLinkFactory(LinkFactory inner, std::shared_ptr<CTraceFile> trace,
                              std::string printer = {});

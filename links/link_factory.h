#pragma once

#include <functional>
#include <memory>
#include <string>

#include "links/character_interface.h"
#include "links/program_state.h"

class IHostServices;
class IUsbSelectionRunner;

// Creates the link for a port name; `kind` is the link kind the name maps to.
// The application chooses the factory and hands it to the protocol object, so
// tests and the simulated printer put their own links behind the same object.
using LinkFactory =
    std::function<std::unique_ptr<CCharacterInterface>(int kind, const std::string& portName)>;

// The factory for the real links: Ethernet on port 9100, parallel. USB needs
// the desktop's selection dialog, so this one's USB link never opens.
// `state` must outlive the protocol object.
LinkFactory DefaultLinkFactory(tessaly::ProgramState& state);
// The same with USB: libusb, the CUPS print queues, and the selection dialog
// run by `selection`. `state`, `host` and `selection` must outlive the
// protocol object.
LinkFactory DefaultLinkFactory(tessaly::ProgramState& state, IHostServices& host,
                               IUsbSelectionRunner& selection);

class CTraceFile;
// Puts a trace link (links/trace_link.h) in front of every link `inner`
// makes, recording into `trace`; `printer` labels the records (empty: none).
LinkFactory TracedLinkFactory(LinkFactory inner, std::shared_ptr<CTraceFile> trace,
                              std::string printer = {});

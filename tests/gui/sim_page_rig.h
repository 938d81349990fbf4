#pragma once

#include <memory>
#include <string>
#include <vector>

#include "page_harness.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "links/program_state.h"

// A request as it reaches the printer: preamble, body, trailer.
inline std::string Framed(const std::string& body) {
    return std::string(9, '\x05') + '\x01' + body + ",\x1c\x03";
}

// The requests the printer received, as "prefix + mnemonic + parameter",
// e.g. "REQ,STA,VRS".
inline std::vector<std::string> Requests(const CSimPrinter& printer) {
    std::vector<std::string> texts;
    for (const SimFrame& frame : printer.Frames()) {
        if (frame.kind == SimFrameKind::Request) {
            texts.push_back(frame.prefix + frame.mnemonic + frame.parameter);
        }
    }
    return texts;
}

// A page's world with the simulated printer at the end of the link:
// connected (the printer family learnt from `version`) and with the
// connect's own requests, pauses and boxes forgotten.
struct SimPageRig {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host;
    CMessageIF msg{host};
    RecordingSheet sheet;
    PageContext context{msg, host, sheet, state};
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();

    explicit SimPageRig(const std::string& version = "E3.05") {
        printer->SetValue("VRS", version);
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
        msg.SelectPort("Ethernet");
        Forget();
    }

    void Forget() {
        printer->ClearFrames();
        host.pauses.clear();
        host.boxes.clear();
        host.waitCursorShows = 0;
    }

    // The printer no longer knows the value (it answers "NAK,").
    void Remove(const std::string& mnemonic) {
        printer->UpdateState([&](SimPrinterState& s) { s.values.erase(mnemonic); });
    }

    std::vector<std::string> Mnemonics() const {
        std::vector<std::string> names;
        for (const SimFrame& frame : printer->Frames()) names.push_back(frame.mnemonic);
        return names;
    }
};

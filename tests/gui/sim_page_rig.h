#pragma once

#include <memory>
#include <string>
#include <vector>

#include "page_harness.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/frames.h"

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
struct SimPageRig : PageWorld {
    // Read at every connect, so a rig may put another printer here first.
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();

    explicit SimPageRig(const std::string& version = "E3.05") : SimPageRig(kLater) {
        printer->SetValue("VRS", version);
        msg.SelectPort("Ethernet");
        Forget();
    }

    // The world before the connect, for a test that sets the printer up
    // first and then chooses the port itself.
    struct Later {};
    static constexpr Later kLater{};
    explicit SimPageRig(Later) {
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
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

#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/message_if.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/counting_sheet.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"

// The protocol object connected to a simulated printer set up by `setUp`,
// the connect's own traffic forgotten: the world a task runs in, without
// any window.
struct TaskRig {
    FakeHost host;
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CMessageIF msg{host};

    // `setUp` changes the printer once it is connected, its family learnt
    // from `version`.
    explicit TaskRig(const std::function<void(SimPrinterState&)>& setUp = {},
                     const std::string& version = "E3.05", const std::string& port = "Ethernet") {
        printer->SetValue("VRS", version);
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
        EXPECT_EQ(msg.SelectPort(port), 1);
        if (setUp) printer->UpdateState(setUp);
        printer->ClearFrames();
        host.pauses.clear();
    }

    // The printer stops taking anything after `frames` more frames.
    void OffAfter(int frames) {
        const long long seen = static_cast<long long>(printer->Frames().size()) + 1;  // + "VRS"
        printer->UpdateState([&](SimPrinterState& s) { s.timing.offAfterFrames = seen + frames; });
    }

    // The requests the printer received, as prefix, mnemonic and parameter
    // ("REQ,STA,VRS", "QPR1").
    std::vector<std::string> Requests() const {
        std::vector<std::string> texts;
        for (const SimFrame& frame : printer->Frames()) {
            texts.push_back(frame.prefix + frame.mnemonic + frame.parameter);
        }
        return texts;
    }
};

// The protocol object on scripted links, for exact replies and refusals a
// simulator would not produce. Connect opens a link via `port` that has
// learnt the family from `version` and forgets its traffic.
struct ScriptedTaskRig : ScriptedLinks {
    FakeHost host;
    CountingSheet sheet;
    CMessageIF msg{host};

    ScriptedTaskRig() {
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory(Factory());
    }

    ScriptedLink& Connect(const std::string& version = "E3.05", const std::string& port = "USB") {
        prepare = [version](ScriptedLink& l) { l.QueueReply("VRS" + version + ","); };
        msg.SelectPort(port);
        prepare = {};
        ForgetTraffic();
        return *link;
    }
};

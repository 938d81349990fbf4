#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/message_if.h"
#include "protocol/source_file.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/counting_sheet.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"
#include "tasks/counters.h"
#include "tasks/firmware.h"
#include "tasks/identity.h"

// The protocol object connected to a simulated printer set up by `setUp`,
// the connect's own traffic forgotten: the world a task runs in, without
// any window.
struct TaskRig {
    FakeHost host;
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CMessageIF msg{host};

    // `setUp` changes the printer once it is connected, its family learnt
    // from `version`; `retryAnswer` answers every unscripted Retry/Cancel box.
    explicit TaskRig(const std::function<void(SimPrinterState&)>& setUp = {},
                     const std::string& version = "E3.05", const std::string& port = "Ethernet",
                     MsgResult retryAnswer = MsgResult::Retry)
        : host(retryAnswer) {
        printer->SetValue("VRS", version);
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
        EXPECT_EQ(msg.SelectPort(port), 1);
        if (setUp) printer->UpdateState(setUp);
        printer->ClearFrames();
        host.pauses.clear();
        host.boxes.clear();
    }

    // The printer's status value; no value: it does not know the mnemonic.
    void Set(const std::string& mnemonic, const std::optional<std::string>& value) {
        printer->UpdateState([&](SimPrinterState& s) {
            if (value) {
                s.values[mnemonic] = *value;
            } else {
                s.values.erase(mnemonic);
            }
        });
    }

    void SwitchOff() {
        printer->UpdateState([](SimPrinterState& s) { s.absent = true; });
    }

    // The printer stops taking anything after `frames` more frames.
    void OffAfter(int frames) {
        const long long seen = static_cast<long long>(printer->Frames().size()) + 1;  // + "VRS"
        printer->UpdateState([&](SimPrinterState& s) { s.timing.offAfterFrames = seen + frames; });
    }

    // The frames the printer received, as prefix, mnemonic and parameter
    // ("REQ,STA,VRS", "QPR1"); `requestsOnly` leaves out data and raw frames.
    std::vector<std::string> Requests(bool requestsOnly = false) const {
        std::vector<std::string> texts;
        for (const SimFrame& frame : printer->Frames()) {
            if (requestsOnly && frame.kind != SimFrameKind::Request) continue;
            texts.push_back(frame.prefix + frame.mnemonic + frame.parameter);
        }
        return texts;
    }
};

// A task that loses its printer must end, not retry for ever: every
// unscripted Retry/Cancel box is cancelled. Lists requests only.
struct SimTaskRig : TaskRig {
    explicit SimTaskRig(const std::string& version = "E3.05", const std::string& port = "Ethernet")
        : TaskRig({}, version, port, MsgResult::Cancel) {}

    std::vector<std::string> Requests() const { return TaskRig::Requests(true); }
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

// One firmware upgrade of the printer or of its laminator, the file served
// from memory; no image: the file cannot be opened.
enum class Board { Printer, Laminator };
struct UpgradeRun {
    firmware::UpgradeResult result = firmware::UpgradeResult::Declined;
    std::string keptPath;  // the path as the program keeps it
    std::string fileError;
    std::vector<std::string> upgradeSentFor;  // paths the "UPG sent" hook saw
};
inline UpgradeRun RunUpgrade(CMessageIF& msg, IHostServices& host, Board board,
                             const std::string& path, const std::optional<std::string>& image,
                             const std::string& extension = ".cfe", int64_t failReadAt = -1) {
    const firmware::FileOpener memory = [&](const std::string&, std::string& whyNot) {
        if (!image) {
            whyNot = "No such file or directory";
            return std::unique_ptr<CSourceFile>();
        }
        auto file = std::make_unique<CMemoryFile>(*image);
        file->SetReadLimit(failReadAt, true);
        return std::unique_ptr<CSourceFile>(std::move(file));
    };
    UpgradeRun run;
    const auto hook = [&run](const std::string& kept) { run.upgradeSentFor.push_back(kept); };
    const firmware::UpgradeOutcome outcome =
        board == Board::Printer ? firmware::UpgradePrinter(msg, host, path, extension, hook, memory)
                                : firmware::UpgradeLaminator(msg, host, path, memory);
    run.result = outcome.result;
    run.keptPath = outcome.path;
    run.fileError = outcome.fileError;
    return run;
}

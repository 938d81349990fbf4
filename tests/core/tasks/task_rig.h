#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/message_if.h"
#include "protocol/printer_tasks.h"
#include "protocol/source_file.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/fake_host.h"

// The maintenance tasks without a window: the protocol object on the
// in-process simulated printer, connected and with the connect's own
// traffic forgotten.
struct SimTaskRig {
    // Unscripted Retry/Cancel boxes are cancelled, so a lost printer ends
    // the task instead of retrying for ever.
    FakeHost host{MsgResult::Cancel};
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CMessageIF msg{host};

    explicit SimTaskRig(const std::string& version = "E3.05",
                        const std::string& port = "Ethernet") {
        printer->SetValue("VRS", version);
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
        EXPECT_EQ(msg.SelectPort(port), 1);
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

    // The requests the printer received, as "prefix + mnemonic + parameter".
    std::vector<std::string> Requests() const {
        std::vector<std::string> texts;
        for (const SimFrame& frame : printer->Frames()) {
            if (frame.kind == SimFrameKind::Request) {
                texts.push_back(frame.prefix + frame.mnemonic + frame.parameter);
            }
        }
        return texts;
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
    run.keptPath = path;
    const auto hook = [&run](const std::string& kept) { run.upgradeSentFor.push_back(kept); };
    const firmware::UpgradeReport report =
        board == Board::Printer
            ? firmware::UpgradePrinter(msg, host, run.keptPath, extension, hook, memory)
            : firmware::UpgradeLaminator(msg, host, run.keptPath, memory);
    run.result = report.result;
    run.fileError = report.fileError;
    return run;
}

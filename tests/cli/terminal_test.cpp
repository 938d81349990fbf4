// The command line as a terminal sees it: the progress line, Ctrl+C, and
// what a stopped command says of the printer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_host.h"
#include "cli/command_watch.h"
#include "protocol/frame_format.h"
#include "support/scripted_link.h"

namespace {

TEST(ProgressLine, NeverWiderThanTheTerminal) {
    const std::string label = "The printer is installing its new firmware, please wait";
    struct Row {
        int columns;
        std::string shownLabel;
    };
    const std::vector<Row> rows = {
        {120, label},
        {80, label},
        {60, "The printer is installing its new firm..."},
        {20, ""},
        // Unknown width: as wide as an ordinary terminal.
        {0, label},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.columns);
        const std::string line = CCliHost::BarLine(label, 1, 2, row.columns);
        EXPECT_LT(line.size(), static_cast<size_t>(row.columns > 0 ? row.columns : 80));
        EXPECT_EQ(line.substr(0, row.shownLabel.size() + 2), row.shownLabel + " [");
        EXPECT_EQ(line.substr(line.size() - 5), "] 50%");
    }
}

// Ctrl+C at three points of an upgrade: the reason says what the printer
// was left with, and nothing more goes out.
TEST(CommandWatch, InterruptSaysWhatThePrinterHas) {
    const std::string header = frame::Preamble() + "REQ,FRM1000,\x1c";
    const std::string status = frame::Preamble() + "REQ,STA,VRS,\x1c\x03";
    struct Row {
        std::vector<std::string> writes;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {{status}, "interrupted (Ctrl+C) before the command finished"},
        {{header, std::string(400, 'x')},
         "interrupted (Ctrl+C) during the firmware transfer, after 400 of 1000 bytes: the "
         "printer did not get the whole image"},
        {{header, std::string(1000, 'x'), "\x03", status},
         "interrupted (Ctrl+C) after the whole firmware image was sent: the printer may be "
         "installing it."},
        {{"\x01,REQ,LAM_FRM10,\x1c,0123456789\x03"},
         "interrupted (Ctrl+C) after the whole laminator firmware image was sent"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason);
        CCommandWatch watch(std::nullopt, 0, nullptr, false);
        ScriptedLink* inner = nullptr;
        LinkFactory factory = CCommandWatch::Watched(
            [&inner](int, const std::string&) {
                auto link = std::make_unique<ScriptedLink>();
                inner = link.get();
                return link;
            },
            watch);
        std::unique_ptr<CCharacterInterface> link = factory(kLinkEthernet, "Ethernet");
        ASSERT_EQ(link->Open(), 1);
        for (const std::string& bytes : row.writes) {
            link->Write(frame::Bytes(bytes), static_cast<int>(bytes.size()));
        }
        watch.Interrupt();
        ASSERT_TRUE(watch.Stopped());
        EXPECT_EQ(watch.Stopped()->exitCode, cli_exit::kInterrupted);
        EXPECT_EQ(watch.Stopped()->reason.substr(0, row.reason.size()), row.reason);
        EXPECT_EQ(link->Write(frame::Bytes(status), static_cast<int>(status.size())), 0);
        EXPECT_EQ(inner->writes.size(), row.writes.size());
    }
}

}  // namespace

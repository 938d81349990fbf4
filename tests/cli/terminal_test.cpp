// The command line as a terminal sees it: the progress line's width, and
// what a command stopped by Ctrl+C says of the printer.

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli/cli_host.h"
#include "cli/command_watch.h"
#include "protocol/frame_format.h"
#include "support/scripted_link.h"

namespace {

TEST(ProgressLine, NeverWiderThanTheTerminal) {
    const std::string label = "The printer is installing its new firmware, please wait";
    // Columns (0: unknown, as an ordinary terminal), and the label shown.
    const std::vector<std::pair<int, std::string>> rows = {
        {120, label},
        {80, label},
        {60, "The printer is installing its new firm..."},
        {20, ""},
        {0, label}};
    for (const auto& [columns, shown] : rows) {
        const std::string line = CCliHost::BarLine(label, 1, 2, columns);
        EXPECT_LT(line.size(), static_cast<size_t>(columns > 0 ? columns : 80)) << line;
        EXPECT_EQ(line.substr(0, shown.size() + 2), shown + " [");
        EXPECT_EQ(line.substr(line.size() - 5), "] 50%");
    }
}

// Ctrl+C at each stage of an upgrade; after it nothing more goes out.
TEST(CommandWatch, InterruptSaysWhatThePrinterHas) {
    const std::string header = frame::Preamble() + "REQ,FRM1000,\x1c";
    const std::string status = frame::Preamble() + "REQ,STA,VRS,\x1c\x03";
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{status}, "before the command finished"},
        {{header, std::string(400, 'x')},
         "during the firmware transfer, after 400 of 1000 bytes: the printer did not get"},
        {{header, std::string(1000, 'x'), "\x03", status},
         "after the whole firmware image was sent: the printer may be installing it."},
        {{"\x01,REQ,LAM_FRM10,\x1c,0123456789\x03"}, "after the whole laminator firmware image"},
    };
    for (const auto& [writes, reason] : rows) {
        CCommandWatch watch(std::nullopt, 0, nullptr, false);
        auto* inner = new ScriptedLink;
        auto link = CCommandWatch::Watched(
            [inner](int, const std::string&) { return std::unique_ptr<ScriptedLink>(inner); },
            watch)(kLinkEthernet, "Ethernet");
        for (const std::string& bytes : writes) {
            link->Write(frame::Bytes(bytes), static_cast<int>(bytes.size()));
        }
        watch.Interrupt();
        ASSERT_TRUE(watch.Stopped());
        EXPECT_EQ(watch.Stopped()->exitCode, cli_exit::kInterrupted);
        const std::string said = "interrupted (Ctrl+C) " + reason;
        EXPECT_EQ(watch.Stopped()->reason.substr(0, said.size()), said);
        EXPECT_EQ(link->Write(frame::Bytes(status), static_cast<int>(status.size())), 0);
        EXPECT_EQ(inner->writes.size(), writes.size());
    }
}

}  // namespace

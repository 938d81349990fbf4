// What the query report and the network save say about how they ended,
// against the in-process simulated printer and its faults: a run or a save
// cut short must never pass for a whole one.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "protocol/message_if.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "support/fake_host.h"
#include "tasks/network.h"
#include "tasks/query_report.h"

namespace {

using Lines = std::vector<std::string>;
using query_report::RunEnd;

// The protocol object connected to a simulated printer set up by `setUp`,
// the connect's own traffic forgotten.
struct TaskRig {
    FakeHost host;
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CMessageIF msg{host};

    // `setUp` changes the printer once it is connected, its family learnt
    // from `version`.
    explicit TaskRig(const std::function<void(SimPrinterState&)>& setUp = {},
                     const char* version = "E3.05") {
        printer->SetValue("VRS", version);
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
        EXPECT_EQ(msg.SelectPort("Ethernet"), 1);
        if (setUp) printer->UpdateState(setUp);
        printer->ClearFrames();
        host.pauses.clear();
    }

    // The printer stops taking anything after `frames` more frames.
    void OffAfter(int frames) {
        const long long seen = static_cast<long long>(printer->Frames().size()) + 1;  // + "VRS"
        printer->UpdateState([&](SimPrinterState& s) { s.timing.offAfterFrames = seen + frames; });
    }
};

Lines Items(const query_report::RunResult& result) {
    return Lines(result.lines.begin() + 6, result.lines.end());
}

}  // namespace

TEST(QueryReportRun, EndsCompleteOnlyOnEndAndStopsAfterThreeUnansweredItems) {
    struct Case {
        const char* what;
        Lines printerItems;  // "" : no reply
        SimFaults faults;
        RunEnd end;
        int stoppedAt;
        Lines items;
        std::vector<int> unanswered = {};
        int offAfterItems = -1;
        const char* version = "E3.05";
    };
    const Case cases[] = {
        {"one unanswered item is an empty line",
         {"A", "", "B"},
         {},
         RunEnd::Complete,
         0,
         {"A", "", "B"},
         {2}},
        {"two in a row still go on",
         {"A", "", "", "B"},
         {},
         RunEnd::Complete,
         0,
         {"A", "", "", "B"},
         {2, 3}},
        {"three in a row end the run", {"A", "", "", "", "B"}, {}, RunEnd::Unanswered, 2, {"A"}},
        {"killed mid-report", {"A", "B", "C"}, {}, RunEnd::Unanswered, 3, {"A", "B"}, {}, 2},
        {"closes", {"A"}, {.closeOnRequest = true}, RunEnd::Unanswered, 1, {}},
        {"garbage", {"A"}, {.garbageReplies = true}, RunEnd::Unanswered, 1, {}},
        {"silent", {"A"}, {.silent = true}, RunEnd::Unanswered, 1, {}},
        {"not for this family", {"A"}, {}, RunEnd::Unanswered, 1, {}, {}, -1, "V2.10"},
        {"never says END", Lines(127, "X"), {}, RunEnd::ItemLimit, 127, Lines(127, "X")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TaskRig rig(
            [&](SimPrinterState& s) {
                s.queryItems = c.printerItems;
                s.faults = c.faults;
            },
            c.version);
        if (c.offAfterItems >= 0) rig.OffAfter(c.offAfterItems);
        const query_report::RunResult result =
            query_report::Run(rig.msg, query_report::kQueryTitle, cmd::QPR, std::tm{});
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.stoppedAt, c.stoppedAt);
        EXPECT_EQ(Items(result), c.items);
        EXPECT_EQ(result.unanswered, c.unanswered);
        EXPECT_EQ(query_report::IncompleteText(result).has_value(), !result.Complete());
    }
}

// A save cut off after its first two writes says which went out; one that
// ran whole says so of each.
TEST(NetworkSave, ReportsEveryWrite) {
    const std::array<std::optional<uint32_t>, network::kAddressCount> addresses = {
        0x0A000001, 0xFFFFFF00, std::nullopt};
    for (const int off : {-1, 2}) {
        SCOPED_TRACE("off after " + std::to_string(off));
        TaskRig rig;
        if (off >= 0) rig.OffAfter(off);
        const network::SaveResult saved =
            network::Save(rig.msg, 0x1800, network::kModeDynamic, addresses);
        EXPECT_TRUE(saved.applicable);
        ASSERT_EQ(saved.writes.size(), 3u);
        const std::pair<int, const char*> expected[] = {
            {cmd::DYN, "1"}, {cmd::IPA, "167772161"}, {cmd::SNM, "-256"}};
        for (size_t i = 0; i < saved.writes.size(); ++i) {
            EXPECT_EQ(saved.writes[i].command, expected[i].first);
            EXPECT_EQ(saved.writes[i].value, expected[i].second);
            EXPECT_EQ(saved.writes[i].sent, off < 0 || static_cast<int>(i) < off) << i;
        }
        EXPECT_EQ(saved.AllSent(), off < 0);
    }
}

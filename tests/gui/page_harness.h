#pragma once

#include <string>
#include <vector>

#include "links/program_state.h"
#include "pages/page_base.h"
#include "protocol/message_if.h"
#include "support/counting_sheet.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"

// Stands in for the main sheet around a page under test: records what the
// page asks of the sheet and counts the protocol object's rebuild requests.
class RecordingSheet : public IPageSheet, public CountingSheet {
public:
    std::vector<int> activePages;
    std::vector<int> endResults;
    int featureRemovals = 0;

    void SetActivePage(int index) override { activePages.push_back(index); }
    void EndDialog(int result) override { endResults.push_back(result); }
    void RemoveFeaturePages() override { ++featureRemovals; }
};

// The world every page rig builds on: the program state, the host double,
// the protocol object and a recording sheet, wired as the program wires
// them. A rig adds the link factory.
struct PageWorld {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host;
    CMessageIF msg{host};
    RecordingSheet sheet;
    PageContext context{msg, host, host, sheet, state};

    explicit PageWorld(MsgResult retryAnswer = MsgResult::Retry) : host(retryAnswer) {
        msg.SetMainSheet(&sheet);
    }
};

// Everything a page needs, with scripted links, for the exact replies,
// refusals and read sizes a simulator would not produce:
//
//   PageRig rig;
//   ScriptedLink& link = rig.Connect();           // opened via "USB", record empty
//   link.QueueReply("...");
//   CPrinterIdentityPP page(rig.context);
//   page.Activate();                              // init, then activation
//   EXPECT_EQ(link.writes.size(), ...);
struct PageRig : PageWorld, ScriptedLinks {
    PageRig() { msg.SetLinkFactory(Factory()); }

    // Chooses a port through the protocol object; the link opens at once.
    // The record of the connect's own family detection is cleared, so the
    // page's requests are all the link holds.
    ScriptedLink& Connect(const std::string& port = "USB") {
        msg.SelectPort(port);
        ForgetTraffic();
        return *link;
    }
};

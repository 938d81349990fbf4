#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "links/program_state.h"
#include "pages/page_base.h"
#include "protocol/message_if.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"

// Stands in for the main sheet around a page under test: records what the
// page asks of the sheet and counts the protocol object's rebuild requests.
class RecordingSheet : public IPageSheet, public IMainSheet {
public:
    std::vector<int> activePages;
    std::vector<int> endResults;
    int featureRemovals = 0;
    int rebuilds = 0;

    void SetActivePage(int index) override { activePages.push_back(index); }
    void EndDialog(int result) override { endResults.push_back(result); }
    void RemoveFeaturePages() override { ++featureRemovals; }
    void RebuildPages() override { ++rebuilds; }
};

// Everything a page needs, with a scripted host and scripted links:
//
//   PageRig rig;
//   ScriptedLink& link = rig.Connect();           // opened via "USB", record empty
//   link.QueueReply("...");
//   CPrinterIdentityPP page(rig.context);
//   page.Activate();                              // init, then activation
//   EXPECT_EQ(link.writes.size(), ...);
struct PageRig {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host;
    CMessageIF msg{host};
    RecordingSheet sheet;
    PageContext context{msg, host, sheet, state};
    // Every link the protocol object asked for, as (kind, port name).
    std::vector<std::pair<int, std::string>> linkRequests;
    // The link made by the latest request; the protocol object owns it and
    // destroys it when the next port is chosen.
    ScriptedLink* link = nullptr;

    PageRig() {
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory([this](int kind, const std::string& port) {
            linkRequests.emplace_back(kind, port);
            auto made = std::make_unique<ScriptedLink>();
            link = made.get();
            return made;
        });
    }

    // Chooses a port through the protocol object; the link opens at once.
    // The record of the connect's own family detection is cleared, so the
    // page's requests are all the link holds.
    ScriptedLink& Connect(const std::string& port = "USB") {
        msg.SelectPort(port);
        link->writes.clear();
        link->readCapacities.clear();
        link->readPaced.clear();
        return *link;
    }
};

#pragma once

#include <QComboBox>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_sheet.h"
#include "gui_helpers.h"
#include "pages/comms_pp.h"
#include "protocol/message_if.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"

// The main sheet as the program wires it, shown on the offscreen screen,
// with a scripted host and scripted links.
struct SheetRig {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host;
    CMessageIF msg{host};
    std::vector<std::pair<int, std::string>> linkRequests;
    // The latest link made; owned by the protocol object.
    ScriptedLink* link = nullptr;
    // Open results for the next link made (empty: it opens at once).
    std::deque<int> nextOpenResults;
    std::unique_ptr<CMainSheet> sheet;

    explicit SheetRig(FeaturePageFactory factory = CreateFeaturePages) {
        msg.SetLinkFactory([this](int kind, const std::string& port) {
            linkRequests.emplace_back(kind, port);
            auto made = std::make_unique<ScriptedLink>();
            made->openResults = std::exchange(nextOpenResults, {});
            link = made.get();
            return made;
        });
        sheet = std::make_unique<CMainSheet>(msg, host, state, std::move(factory));
        msg.SetMainSheet(sheet.get());
        sheet->show();
    }

    ~SheetRig() {
        msg.SetMainSheet(nullptr);
        sheet.reset();
        gui::FlushDeferredDeletes();
    }

    QComboBox* Combo() const { return sheet->CommsPage()->PortCombo(); }

    QStringList TabTitles() const {
        QStringList titles;
        for (int i = 0; i < sheet->Tabs()->count(); ++i) titles << sheet->Tabs()->tabText(i);
        return titles;
    }

    bool Choose(const QString& port) { return gui::ChooseListEntry(Combo(), port); }

    void ClickTab(int index) {
        QTabBar* bar = sheet->Tabs()->tabBar();
        gui::Click(bar, bar->tabRect(index).center());
    }
};

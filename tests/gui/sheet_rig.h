#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/main_sheet.h"
#include "gui_helpers.h"
#include "pages/comms_pp.h"
#include "protocol/message_if.h"
#include "sim/sim_link.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"
#include "support/sim_tcp_printer.h"

// The main sheet as the program wires it, shown on the offscreen screen,
// with a scripted host (or the `Host` given) and scripted links.
template <typename Host>
struct BasicSheetRig : ScriptedLinks {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    Host host;
    CMessageIF msg{host};
    std::unique_ptr<CMainSheet> sheet;

    explicit BasicSheetRig(FeaturePageFactory factory = CreateFeaturePages) {
        msg.SetLinkFactory(Factory());
        sheet = std::make_unique<CMainSheet>(msg, host, host, state, std::move(factory));
        msg.SetMainSheet(sheet.get());
        sheet->show();
    }

    ~BasicSheetRig() {
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
using SheetRig = BasicSheetRig<FakeHost>;

// The sheet on the simulated printer, reached by an in-process link.
struct SimSheetRig : SheetRig {
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();

    SimSheetRig() {
        msg.SetLinkFactory(
            [this](int, const std::string&) { return std::make_unique<CSimLink>(printer); });
    }
};

// The sheet on the simulated printer served on a TCP port of this machine,
// reached by the program's own Ethernet link at the address typed.
struct TcpSheetRig : SimSheetRig {
    SimTcpPrinter tcp{printer};

    TcpSheetRig() {
        EXPECT_TRUE(tcp.server.IsRunning()) << tcp.startError;
        msg.SetLinkFactory(tcp.EthernetLinks(state, kWaitMs, kWaitMs));
    }

private:
    static constexpr int kWaitMs = 2000;
};

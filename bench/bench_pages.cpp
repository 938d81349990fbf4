// Page actions against the in-process simulated printer, with the pauses
// the protocol prescribes recorded by the host double instead of slept: the
// time measured is what the action costs beyond its pauses.

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "gui/page_harness.h"
#include "pages/ethernet_pp.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"

namespace bench {
namespace {

// A page's world: the shared page rig's, its host answering Retry/Cancel
// with Cancel, and the simulated printer on an in-process link, connected.
struct SimPageWorld : PageWorld {
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();

    SimPageWorld() : PageWorld(MsgResult::Cancel) {
        msg.SetLinkFactory([this](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            return std::make_unique<CSimLink>(printer);
        });
        msg.SelectPort("Ethernet");
    }
};

// Runs the action `count` times in each of the repeats; the median wall time
// per action and the pauses it asked for per action.
Row TimeAction(const Options& options, const std::string& name, int count, FakeHost& host,
               const std::function<bool()>& action) {
    bool faulty = false;
    std::vector<double> perAction;
    const int repeats = Repeats(options);
    for (int r = 0; r < repeats; ++r) {
        host.pauses.clear();
        const double seconds = TimeOnce([&] {
            for (int i = 0; i < count; ++i) faulty = !action() || faulty;
        });
        perAction.push_back(seconds / count * 1000);
    }
    Row row;
    row.name = name;
    row.unit = "ms/action";
    row.FromRepeats(perAction);
    row.baselineName = "prescribed pauses " + std::to_string(host.TotalPauseMs() / count) +
                       " ms/action (recorded, not slept)";
    row.goal = {Goal::Below, 5};
    row.faulty = faulty;
    return row;
}

// Times the page's save button; each save must reach the printer as
// `frames` frames.
template <typename Page>
void TimeSave(const std::string& name, const char* saveId, size_t frames, const Options& options,
              std::vector<Row>& rows) {
    SimPageWorld world;
    Page page(world.context);
    page.show();
    page.Activate();
    auto* save = page.template findChild<QAbstractButton*>(QString::fromLatin1(saveId));
    if (save == nullptr) return;
    rows.push_back(TimeAction(options, name, options.quick ? 10 : 20, world.host, [&] {
        const size_t before = world.printer->Frames().size();
        save->click();
        return world.printer->Frames().size() == before + frames;
    }));
}

void QueryRun(const Options& options, std::vector<Row>& rows) {
    SimPageWorld world;
    constexpr int kItems = 100;
    world.printer->UpdateState([](SimPrinterState& state) {
        state.queryItems.clear();
        for (int i = 1; i <= kItems; ++i) {
            state.queryItems.push_back("ITEM " + std::to_string(i) + ":\n   VALUE " +
                                       std::to_string(i * 37) + "\n   STATE OK");
        }
    });
    CQueryPrinterPP page(world.context);
    page.show();
    page.Activate();
    QPushButton* query = page.QueryButton();
    QListWidget* list = page.ReportList();
    Row row = TimeAction(options, "Query Printer page: Query, 100 items", options.quick ? 5 : 10,
                         world.host, [&] {
                             query->click();
                             // Six head lines, three lines per item.
                             return list->count() == 6 + 3 * kItems;
                         });
    rows.push_back(row);
}

}  // namespace

void RunPageActions(const Options& options, std::vector<Row>& rows) {
    // Four settings written, then the refresh's nine requests.
    TimeSave<CPrinterIdentityPP>("Printer Identity page: Save", CPrinterIdentityPP::Id::kSave,
                                 4 + 9, options, rows);
    QueryRun(options, rows);
    // DYN, IPA, SNM, GWY.
    TimeSave<CEthernetPP>("Ethernet page: Save to FLASH", CEthernetPP::Id::kSave, 4, options, rows);
}

}  // namespace bench

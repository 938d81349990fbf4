// Page actions against the in-process simulated printer, with the pauses
// the protocol prescribes recorded by the host double instead of slept: the
// time measured is what the action costs beyond its pauses.

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "links/program_state.h"
#include "pages/ethernet_pp.h"
#include "pages/page_base.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "protocol/main_sheet_if.h"
#include "protocol/message_if.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"

namespace bench {
namespace {

class NullSheet : public IPageSheet, public IMainSheet {
public:
    void SetActivePage(int) override {}
    void EndDialog(int) override {}
    void RemoveFeaturePages() override {}
    void RebuildPages() override {}
};

// A page's world: host double, protocol object, the simulated printer on an
// in-process link, connected.
struct PageWorld {
    // First in, last out: the links made for msg reach into it.
    tessaly::ProgramState state;
    FakeHost host{MsgResult::Cancel};
    CMessageIF msg{host};
    NullSheet sheet;
    PageContext context{msg, host, sheet, state};
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();

    PageWorld() {
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory([this](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            return std::make_unique<CSimLink>(printer);
        });
        msg.SelectPort("Ethernet");
    }
};

QAbstractButton* FindButton(QWidget& page, const QString& text) {
    for (QAbstractButton* button : page.findChildren<QAbstractButton*>()) {
        if (button->text() == text) return button;
    }
    return nullptr;
}

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

void EthernetSave(const Options& options, std::vector<Row>& rows) {
    PageWorld world;
    CEthernetPP page(world.context);
    page.show();
    page.Activate();
    QAbstractButton* save = FindButton(page, QStringLiteral("Save to FLASH"));
    if (save == nullptr) return;
    Row row = TimeAction(
        options, "Ethernet page: Save to FLASH", options.quick ? 10 : 20, world.host, [&] {
            const size_t before = world.printer->Frames().size();
            save->click();
            return world.printer->Frames().size() == before + 4;  // DYN, IPA, SNM, GWY
        });
    rows.push_back(row);
}

void IdentitySave(const Options& options, std::vector<Row>& rows) {
    PageWorld world;
    CPrinterIdentityPP page(world.context);
    page.show();
    page.Activate();
    QAbstractButton* save = FindButton(page, QStringLiteral("Save"));
    if (save == nullptr) return;
    Row row = TimeAction(options, "Printer Identity page: Save", options.quick ? 10 : 20,
                         world.host, [&] {
                             const size_t before = world.printer->Frames().size();
                             save->click();
                             // Four settings written, then the refresh's nine requests.
                             return world.printer->Frames().size() == before + 4 + 9;
                         });
    rows.push_back(row);
}

void QueryRun(const Options& options, std::vector<Row>& rows) {
    PageWorld world;
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
    QAbstractButton* query = FindButton(page, QStringLiteral("Query"));
    auto* list = page.findChild<QListWidget*>();
    if (query == nullptr || list == nullptr) return;
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
    IdentitySave(options, rows);
    QueryRun(options, rows);
    EthernetSave(options, rows);
}

}  // namespace bench

// Page actions against the in-process simulated printer, with the pauses
// the protocol prescribes recorded by the host double instead of slept: the
// time measured is what the action costs beyond its pauses.

#include <QAbstractButton>
#include <QApplication>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "pages/ethernet_pp.h"
#include "pages/page_base.h"
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
    RecordingHost host;
    CMessageIF msg{host};
    NullSheet sheet;
    PageContext context{msg, host, sheet};
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

// Runs the action `count` times; the mean wall time per action and the
// pauses it asked for per action.
Row TimeAction(const std::string& name, int count, RecordingHost& host,
               const std::function<bool()>& action) {
    bool faulty = false;
    host.pauses.clear();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) faulty = !action() || faulty;
    const double seconds = SecondsSince(start);
    Row row;
    row.name = name;
    row.unit = "ms/action";
    row.value = seconds / count * 1000;
    row.baselineName = "prescribed pauses " + std::to_string(host.PauseMs() / count) +
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
    Row row = TimeAction("Ethernet page: Save to FLASH", options.quick ? 10 : 100, world.host, [&] {
        const size_t before = world.printer->Frames().size();
        save->click();
        return world.printer->Frames().size() == before + 4;  // DYN, IPA, SNM, GWY
    });
    rows.push_back(row);
}

}  // namespace

void RunPageActions(const Options& options, std::vector<Row>& rows) {
    EthernetSave(options, rows);
}

}  // namespace bench

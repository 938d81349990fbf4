// Pages over the real Ethernet link to a misbehaving simulated printer on
// loopback: the window stays consistent (fields emptied rather than stale,
// the wait cursor back, nothing asked of the operator that the protocol does
// not ask) and every action ends within a bound.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <chrono>
#include <memory>
#include <string>

#include "links/ethernet_if.h"
#include "links/program_state.h"
#include "page_harness.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "sim/sim_printer.h"
#include "sim_page_rig.h"
#include "support/sim_tcp_printer.h"
#include "support/time_scale.h"

namespace {

using Clock = std::chrono::steady_clock;
using Identity = CPrinterIdentityPP::Id;

const int kReceiveMs = 150 * TestTimeScale();

// The shared page rig, its printer reached over the real Ethernet link.
struct TcpPageRig : SimPageRig {
    SimTcpPrinter tcp{printer};

    TcpPageRig() : SimPageRig(kLater) {
        state.printerIpAddress = 0x7F000001;
        msg.SetLinkFactory(tcp.EthernetLinks(state, kReceiveMs));
    }
    ~TcpPageRig() { msg.SetMainSheet(nullptr); }
    void SetFaults(const SimFaults& faults) {
        printer->UpdateState([&](SimPrinterState& s) { s.faults = faults; });
    }
};

TEST(PageFaults, IdentityRefreshAgainstASilentPrinterEmptiesTheFields) {
    TcpPageRig rig;
    ASSERT_EQ(rig.msg.SelectPort("Ethernet"), 1);
    CPrinterIdentityPP page(rig.context);
    page.show();
    page.Activate();
    auto* serial = page.findChild<QLineEdit*>(Identity::kSerialNumber);
    auto* refresh = page.findChild<QPushButton*>(Identity::kRefresh);
    ASSERT_NE(serial, nullptr);
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(serial->text(), QStringLiteral("E1234567"));

    // Switched off mid-session: every request of the refresh times out.
    rig.SetFaults({.silent = true});
    const auto start = Clock::now();
    refresh->click();
    // Detection and nine requests, each one receive time-out, no more.
    EXPECT_LT(MsSince(start), 11 * kReceiveMs + 1000);
    EXPECT_EQ(serial->text(), QString());  // not the stale serial number
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
    EXPECT_TRUE(rig.host.boxes.empty());

    // Back again: the next refresh shows the printer as it is.
    rig.SetFaults({});
    refresh->click();
    EXPECT_EQ(serial->text(), QStringLiteral("E1234567"));
}

TEST(PageFaults, QueryRunOverGarbageAndOverlongRepliesStaysBounded) {
    TcpPageRig rig;
    ASSERT_EQ(rig.msg.SelectPort("Ethernet"), 1);
    CQueryPrinterPP page(rig.context);
    page.show();
    page.Activate();
    auto* query = page.findChild<QPushButton*>(CQueryPrinterPP::Id::kQuery);
    auto* list = page.findChild<QListWidget*>();
    ASSERT_NE(query, nullptr);
    ASSERT_NE(list, nullptr);

    // Zero bytes first: every item reads as empty text, never as "END", so
    // the run stops after three such items and says so.
    rig.SetFaults({.garbageReplies = true});
    auto start = Clock::now();
    query->click();
    EXPECT_LT(MsSince(start), 2000 * TestTimeScale());
    EXPECT_EQ(list->count(), 6);
    EXPECT_EQ(rig.host.BoxTexts(), std::vector<std::string>{"The printer stopped answering at "
                                                            "item 1: the report is incomplete."});
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
    rig.host.boxes.clear();

    // Replies padded past the reply area: each item's first 1024 bytes, and
    // the padding of one item never turns up as the next item.
    rig.SetFaults({.longReplies = true});
    query->click();
    auto rowStarting = [&](const QString& start) {
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->text().startsWith(start)) return row;
        }
        return -1;
    };
    const int serial = rowStarting(QStringLiteral("SERIAL: E1234567X"));
    const int ribbon = rowStarting(QStringLiteral("RIBBON LEFT: 412 PANELSX"));
    ASSERT_EQ(serial, 8);
    ASSERT_GT(ribbon, serial);
    EXPECT_TRUE(list->item(serial + 1)->text().startsWith(QStringLiteral("PRINTHEAD: 300 DPI")));
    EXPECT_TRUE(list->item(ribbon + 1)->text().startsWith(QStringLiteral("COUNTERS:")));
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
    // The padded "END" is no end: the report runs out at the last item.
    EXPECT_EQ(rig.host.BoxTexts(),
              std::vector<std::string>{"The printer sent no end of the report "
                                       "by item 127: the report is incomplete."});
}

}  // namespace

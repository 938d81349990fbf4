// Pages over the real Ethernet link to a misbehaving simulated printer on
// loopback: the window stays consistent (fields emptied rather than stale,
// the wait cursor back, nothing asked of the operator that the protocol does
// not ask) and every action ends within a bound.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <memory>
#include <string>

#include "links/ethernet_if.h"
#include "links/program_state.h"
#include "page_harness.h"
#include "pages/printer_identity_pp.h"
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

}  // namespace

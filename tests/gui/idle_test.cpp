// The window while the program waits for the printer: the program's own host
// lets it paint and run its timers, yet nothing it delivers meanwhile starts
// another action, closes the window or deletes the page whose handler runs;
// Escape or the close box cancel the rest of the operation.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QInputDevice>
#include <QPointer>
#include <QPointingDevice>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_sheet.h"
#include "app/qt_host_services.h"
#include "gui_helpers.h"
#include "pages/printer_identity_pp.h"
#include "pages/stats_cmnds_pp.h"
#include "protocol/message_if.h"
#include "sheet_rig.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "sim_page_rig.h"
#include "support/fake_host.h"
#include "support/scripted_link.h"
#include "support/time_scale.h"

namespace {

using Id = CPrinterIdentityPP::Id;

// The program's host, whose idle call is under test, with the boxes answered
// and the pauses recorded by the double: a pause is just an idle call here.
class IdleHost : public QtHostServices {
public:
    FakeHost record;

    MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override {
        return record.ShowMessageBox(text, buttons, icon);
    }
    MsgResult ShowMessageBoxWithDetails(const std::string& text, const std::string& details,
                                        MsgButtons buttons, MsgIcon icon) override {
        return record.ShowMessageBoxWithDetails(text, details, buttons, icon);
    }
    void Pause(int milliseconds) override {
        record.Pause(milliseconds);
        Idle();
    }
    void Idle() override {
        record.Idle();
        QtHostServices::Idle();
        if (CancelRequested() && onCancel) std::exchange(onCancel, {})();
    }
    // Runs once, after the idle call in which the operator cancelled.
    std::function<void()> onCancel;
};

// The main sheet as the program wires it, connected to the simulated
// printer by the in-process link. A printer that answers late is waited for
// well beyond its delay.
struct IdleRig : BasicSheetRig<IdleHost> {
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();

    explicit IdleRig(int replyDelayMs = 0) {
        printer->UpdateState([=](SimPrinterState& s) { s.timing.replyDelayMs = replyDelayMs; });
        const CSimLink::Waits waits =
            replyDelayMs > 0 ? CSimLink::Waits{2000, 2000} : CSimLink::Waits{};
        msg.SetLinkFactory([this, waits](int, const std::string&) {
            return std::make_unique<CSimLink>(printer, waits);
        });
        EXPECT_EQ(msg.SelectPort("LPT1:"), 1);
    }
    QPushButton* IdentityButton(const char* id) const {
        return gui::Control<QPushButton>(*sheet->PageAt(CMainSheet::kFirstFeatureIndex), id);
    }
    // The requests of a Refresh that nothing comes between.
    std::vector<std::string> RefreshAlone() {
        printer->ClearFrames();
        gui::Click(IdentityButton(Id::kRefresh));
        std::vector<std::string> requests = Requests(*printer);
        EXPECT_GE(requests.size(), 5u);
        return requests;
    }
};

// Input as the window system hands over a person's: queued from another
// thread, as a platform's reader queues it, and delivered by whatever event
// processing the user-interface thread does next, the idle calls of a wait
// included. One click or key per object.
class PlatformInput {
public:
    ~PlatformInput() {
        QElapsedTimer waited;
        waited.start();
        while (m_sender.joinable() && !m_delivered && waited.elapsed() < 10000) {
            QCoreApplication::processEvents();
        }
        if (m_sender.joinable()) m_sender.join();
    }
    void Click(QWidget* widget) {
        QWindow* window = widget->window()->windowHandle();
        const QPointF at(widget->mapTo(widget->window(), widget->rect().center()));
        const QPointF global(widget->mapToGlobal(widget->rect().center()));
        Send([=] {
            qt_handleMouseEvent(window, at, global, Qt::LeftButton, Qt::LeftButton,
                                QEvent::MouseButtonPress, Qt::NoModifier, 0);
            qt_handleMouseEvent(window, at, global, Qt::NoButton, Qt::LeftButton,
                                QEvent::MouseButtonRelease, Qt::NoModifier, 0);
        });
    }
    void Key(QWidget* widget, int key) {
        QWindow* window = widget->window()->windowHandle();
        Send([=] {
            for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
                qt_handleKeyEvent(window, type, key, Qt::NoModifier);
        });
    }
    bool Delivered() const { return m_delivered; }

private:
    void Send(std::function<void()> send) {
        // Made on first use, as children of the application: on its thread.
        QInputDevice::primaryKeyboard();
        QPointingDevice::primaryPointingDevice();
        m_sender = std::thread([this, send = std::move(send)] {
            send();
            m_delivered = true;
        });
    }

    std::thread m_sender;
    std::atomic<bool> m_delivered{false};
};

}  // namespace

TEST(IdleWhileWaiting, TheWindowRunsButStartsNoOtherActionAndClosesOnlyAfterward) {
    IdleRig rig(40);
    QPushButton* refresh = rig.IdentityButton(Id::kRefresh);
    QPushButton* save = rig.IdentityButton(Id::kSave);
    ASSERT_TRUE(refresh && save);
    const std::vector<std::string> alone = rig.RefreshAlone();

    // Once the refresh is waiting: an accessibility tool presses Save (a
    // button's animated click, fired by a timer), and the operator clicks
    // Save with the mouse.
    rig.printer->ClearFrames();
    bool pressedDuringWait = false;
    PlatformInput input;
    {
        gui::StallProbe probe([&] {
            pressedDuringWait = !rig.printer->Frames().empty();
            save->animateClick();
            input.Click(save);
        });
        gui::Click(refresh);
        EXPECT_TRUE(pressedDuringWait);
        EXPECT_TRUE(input.Delivered());
        // A frozen wait would show as one gap as long as the whole refresh.
        EXPECT_LE(probe.LongestMs(), 150 * TestTimeScale());
    }
    EXPECT_EQ(Requests(*rig.printer), alone);
    EXPECT_TRUE(rig.host.record.pauses.empty());
    EXPECT_TRUE(rig.sheet->isVisible());

    // The program's own pause sleeps in slices with idle calls between.
    gui::StallProbe probe;
    rig.host.QtHostServices::Pause(300);
    EXPECT_LE(probe.LongestMs(), 150 * TestTimeScale());
}

TEST(IdleWhileWaiting, EscapeOrCloseCancelsTheRestOfTheOperationAtOnce) {
    IdleRig rig(60);
    QPushButton* refresh = rig.IdentityButton(Id::kRefresh);
    ASSERT_TRUE(refresh);
    const size_t alone = rig.RefreshAlone().size();

    using Clock = std::chrono::steady_clock;
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "the close box" : "Escape");
        rig.printer->ClearFrames();
        size_t framesAtCancel = 0;
        Clock::time_point cancelledAt{};
        rig.host.onCancel = [&] {
            framesAtCancel = rig.printer->Frames().size();
            cancelledAt = Clock::now();
        };
        PlatformInput input;
        {
            gui::StallProbe probe([&] {
                if (closeBox) QCoreApplication::postEvent(rig.sheet.get(), new QCloseEvent);
                if (!closeBox) input.Key(rig.sheet.get(), Qt::Key_Escape);
            });
            gui::Click(refresh);
        }
        ASSERT_NE(cancelledAt, Clock::time_point{});
        EXPECT_LE(Clock::now() - cancelledAt, std::chrono::milliseconds(100 * TestTimeScale()));
        EXPECT_EQ(rig.printer->Frames().size(), framesAtCancel);
        EXPECT_LT(framesAtCancel, alone);
        EXPECT_TRUE(rig.sheet->isVisible());

        // Back in the event loop the cancel is over: a close goes ahead, and
        // the next refresh runs whole.
        QTest::qWait(50);
        EXPECT_EQ(rig.sheet->isVisible(), !closeBox);
        rig.sheet->show();
        EXPECT_EQ(rig.RefreshAlone().size(), alone);
    }
}

// The printer is lost in the middle of an action and the operator reconnects
// from the Retry box: the pages are rebuilt while the old page's handler
// still runs through its pauses, each an idle call. The old page lives,
// hidden, until that handler returns, and the handler goes on with what is
// left; the sheet shows the rebuilt Printer Identity page.
TEST(IdleWhileWaiting, APageReplacedByAReconnectLivesUntilItsHandlerReturns) {
    using Stats = CStats_CmndsPP::Id;
    const struct {
        const char* what;
        int tab;
        const char* button;
        int offAtPause;         // the printer goes at the first pause this long; 0: at once
        int idlesAfterRebuild;  // at least
        std::function<void(FakeHost&, QWidget&)> before;
        std::function<void(IdleRig&, QWidget&)> after;
    } rows[] = {
        {"a Save that lost its second setting", 1, Id::kSave, CMessageIF::kModifyPauseMs, 2,
         [](FakeHost&, QWidget& page) {
             gui::Edit(page, Id::kImageStart)->setText("41");
             gui::Edit(page, Id::kImageEnd)->setText("999");
         },
         [](IdleRig& rig, QWidget& old) {
             // The settings after the lost one went out, then the printer's
             // values were shown; the hidden page took no default button.
             EXPECT_EQ(rig.printer->Value("FSP"), "40");
             EXPECT_EQ(rig.printer->Value("FEP"), "999");
             EXPECT_EQ(gui::Edit(old, Id::kImageStart)->text(), "40");
             auto* fresh = qobject_cast<CPrinterIdentityPP*>(rig.sheet->PageAt(1));
             ASSERT_TRUE(fresh && fresh->DefaultButton());
             EXPECT_TRUE(fresh->DefaultButton()->isDefault());
         }},
        // The printer never had the reset: no notice, no return to the port
        // choice.
        {"a lost reset", 1, Id::kReset, 0, 0,
         [](FakeHost& host, QWidget&) { host.boxAnswers = {MsgResult::Yes}; },
         [](IdleRig& rig, QWidget&) {
             EXPECT_EQ(rig.host.record.boxes.size(), 2u);
             EXPECT_EQ(rig.sheet->PageCount(), 8);
         }},
        {"a command sent", 2, Stats::kSend, 0, 1,
         [](FakeHost&, QWidget& page) {
             gui::Edit(page, Stats::kCommand)->setText(QStringLiteral("TST"));
         },
         [](IdleRig& rig, QWidget&) {
             // The retry's pause, then the old page's own before it re-read
             // its counters.
             EXPECT_EQ(rig.host.record.pauses, (std::vector<int>{2000, 1000}));
             EXPECT_EQ(Requests(*rig.printer).back(), "REQ,STA,CCQ");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        IdleRig rig;
        const auto setAbsent = [&rig](bool absent) {
            rig.printer->UpdateState([absent](SimPrinterState& s) { s.absent = absent; });
        };
        rig.ClickTab(row.tab);
        QPointer<QWidget> old = rig.sheet->PageAt(row.tab);
        ASSERT_TRUE(old);
        row.before(rig.host.record, *old);
        rig.printer->ClearFrames();
        int offAt = row.offAtPause;
        if (offAt == 0) setAbsent(true);
        rig.host.record.onPause = [&](int ms) {
            if (ms == offAt) {
                offAt = -1;  // once
                setAbsent(true);
            }
            if (ms == CMessageIF::kRetryPauseMs) setAbsent(false);
        };
        int idlesAfterRebuild = 0;
        int idlesWithPageGone = 0;
        rig.host.record.onIdle = [&] {
            if (rig.sheet->PageAt(row.tab) == old) return;
            ++idlesAfterRebuild;
            if (!old) ++idlesWithPageGone;
        };

        gui::Click(gui::Button(*old, row.button));
        rig.host.record.onIdle = nullptr;
        rig.host.record.onPause = nullptr;

        EXPECT_GE(idlesAfterRebuild, row.idlesAfterRebuild);
        EXPECT_EQ(idlesWithPageGone, 0);
        ASSERT_TRUE(old);
        EXPECT_NE(rig.sheet->PageAt(row.tab), old.data());
        EXPECT_EQ(rig.sheet->CurrentIndex(), CMainSheet::kFirstFeatureIndex);
        ASSERT_FALSE(rig.host.record.boxes.empty());
        EXPECT_EQ(rig.host.record.boxes.back().text, CMessageIF::kConnectFailedText);
        row.after(rig, *old);

        gui::FlushDeferredDeletes();
        EXPECT_FALSE(old);
    }
}

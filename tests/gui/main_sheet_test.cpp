#include "app/main_sheet.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>

#include "app/app.h"
#include "gui_helpers.h"
#include "sheet_rig.h"

namespace {

const QStringList kAllTitles = {"Comms",
                                "Printer Identity",
                                "Statistics / Commands",
                                "Upgrade Firmware",
                                "Query Printer",
                                "Ethernet",
                                "Mag Encode",
                                "Mag Read"};

// A feature page that counts its hooks.
class CountingPage : public CPageBase {
public:
    CountingPage(const PageContext& context, const QString& title) : CPageBase(context, title) {}
    int inits = 0;
    int activations = 0;
    int activationsBeforeInit = 0;

protected:
    void OnInitDialog() override { ++inits; }
    void OnSetActive() override {
        if (inits == 0) ++activationsBeforeInit;
        ++activations;
    }
};

FeaturePages CountingPages(const PageContext& context) {
    FeaturePages pages;
    for (int i = 0; i < kFeaturePageCount; ++i) {
        pages[i] = std::make_unique<CountingPage>(context, kAllTitles[i + 1]);
    }
    return pages;
}

CountingPage* Counting(CMainSheet& sheet, int index) {
    return dynamic_cast<CountingPage*>(sheet.PageAt(index));
}

std::vector<QPointer<CPageBase>> FeaturePagesOf(CMainSheet& sheet) {
    std::vector<QPointer<CPageBase>> pages;
    for (int i = CMainSheet::kFirstFeatureIndex; i < sheet.PageCount(); ++i) {
        pages.emplace_back(sheet.PageAt(i));
    }
    return pages;
}

}  // namespace

TEST(MainSheet, StartsWithCommsAloneAndOneExitButton) {
    SheetRig rig;
    EXPECT_EQ(rig.TabTitles(), QStringList{"Comms"});
    EXPECT_EQ(rig.sheet->windowTitle(), "Tessaly v" TESSALY_VERSION);

    QStringList visibleButtons;
    for (QPushButton* button : rig.sheet->findChildren<QPushButton*>()) {
        if (button->isVisible()) visibleButtons << button->text();
    }
    EXPECT_EQ(visibleButtons, QStringList{"Exit"});
    EXPECT_EQ(rig.sheet->ExitButton()->objectName(), "1");

    const Qt::WindowFlags flags = rig.sheet->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(rig.linkRequests.empty());
}

TEST(MainSheet, ExitAndEndDialogEndTheRun) {
    {
        SheetRig rig;
        gui::Click(rig.sheet->ExitButton());
        EXPECT_FALSE(rig.sheet->isVisible());
        EXPECT_EQ(rig.sheet->result(), QDialog::Accepted);
    }
    {
        SheetRig rig;
        rig.sheet->EndDialog(1);
        EXPECT_FALSE(rig.sheet->isVisible());
        EXPECT_EQ(rig.sheet->result(), 1);
    }
}

TEST(MainSheet, ConnectAddsTheSevenPagesInOrderWithPrinterIdentityActive) {
    SheetRig rig(CountingPages);
    ASSERT_TRUE(rig.Choose("USB"));

    EXPECT_EQ(rig.TabTitles(), kAllTitles);
    EXPECT_EQ(rig.sheet->CurrentIndex(), 1);
    CountingPage* identity = Counting(*rig.sheet, 1);
    ASSERT_NE(identity, nullptr);
    // Created, then activated exactly once: the sheet's own tab changes
    // while adding pages must not activate anything.
    EXPECT_EQ(identity->inits, 1);
    EXPECT_EQ(identity->activations, 1);
    EXPECT_EQ(identity->activationsBeforeInit, 0);
    for (int i = 2; i < rig.sheet->PageCount(); ++i) {
        EXPECT_EQ(Counting(*rig.sheet, i)->activations, 0) << i;
    }
}

TEST(MainSheet, DefaultPagesCarryTheirTitles) {
    SheetRig rig;
    ASSERT_TRUE(rig.Choose("USB"));
    ASSERT_EQ(rig.sheet->PageCount(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.sheet->PageAt(i)->Title(), kAllTitles[i]);
    // The sheet sizes itself by these before the pages exist.
    EXPECT_EQ(QStringList{"Comms"} + FeaturePageTitles(), kAllTitles);
    EXPECT_EQ(rig.sheet->PageAt(1)->metaObject()->className(), QByteArray("CPrinterIdentityPP"));
    EXPECT_EQ(rig.sheet->PageAt(7)->metaObject()->className(), QByteArray("CMagReadPP"));
}

TEST(MainSheet, SecondConnectReplacesThePagesWithNewOnes) {
    SheetRig rig(CountingPages);
    ASSERT_TRUE(rig.Choose("USB"));
    const std::vector<QPointer<CPageBase>> first = FeaturePagesOf(*rig.sheet);

    EXPECT_EQ(rig.msg.ConnectPrinter(), 1);

    EXPECT_EQ(rig.TabTitles(), kAllTitles);
    EXPECT_EQ(rig.sheet->CurrentIndex(), 1);
    const std::vector<QPointer<CPageBase>> second = FeaturePagesOf(*rig.sheet);
    for (size_t i = 0; i < second.size(); ++i) {
        EXPECT_NE(second[i], first[i]) << i;
        // Not yet: a handler of the old page may still be running.
        EXPECT_FALSE(first[i].isNull()) << i;
    }
    EXPECT_EQ(Counting(*rig.sheet, 1)->activations, 1);

    gui::FlushDeferredDeletes();
    for (size_t i = 0; i < first.size(); ++i) EXPECT_TRUE(first[i].isNull()) << i;
    for (size_t i = 0; i < second.size(); ++i) EXPECT_FALSE(second[i].isNull()) << i;
}

TEST(MainSheet, ActivationRunsInitOnceThenEveryTime) {
    SheetRig rig(CountingPages);
    ASSERT_TRUE(rig.Choose("USB"));

    rig.ClickTab(3);
    EXPECT_EQ(rig.sheet->CurrentIndex(), 3);
    EXPECT_EQ(Counting(*rig.sheet, 3)->inits, 1);
    EXPECT_EQ(Counting(*rig.sheet, 3)->activations, 1);

    rig.ClickTab(1);
    rig.ClickTab(3);
    EXPECT_EQ(Counting(*rig.sheet, 1)->inits, 1);
    EXPECT_EQ(Counting(*rig.sheet, 1)->activations, 2);
    EXPECT_EQ(Counting(*rig.sheet, 3)->inits, 1);
    EXPECT_EQ(Counting(*rig.sheet, 3)->activations, 2);
}

TEST(MainSheet, ReturningToCommsTakesTheFeaturePagesOutButKeepsLinkAndPages) {
    SheetRig rig;
    ASSERT_TRUE(rig.Choose("USB"));
    ScriptedLink* link = rig.link;
    const std::vector<QPointer<CPageBase>> removed = FeaturePagesOf(*rig.sheet);

    rig.ClickTab(0);

    EXPECT_EQ(rig.TabTitles(), QStringList{"Comms"});
    EXPECT_EQ(rig.sheet->CurrentIndex(), 0);
    EXPECT_EQ(rig.Combo()->currentText(), "");
    EXPECT_EQ(rig.msg.CurrentLinkKind(), kLinkUsb);
    EXPECT_EQ(link->closes, 0);
    // Out of the sheet, but alive until the next rebuild.
    gui::FlushDeferredDeletes();
    for (const auto& page : removed) EXPECT_FALSE(page.isNull());

    ASSERT_TRUE(rig.Choose("USB"));
    EXPECT_EQ(rig.TabTitles(), kAllTitles);
    gui::FlushDeferredDeletes();
    for (const auto& page : removed) EXPECT_TRUE(page.isNull());
}

TEST(MainSheet, PageCanMakeCommsActive) {
    SheetRig rig;
    ASSERT_TRUE(rig.Choose("LPT2:"));
    rig.Combo()->setEditText("LPT2:");

    rig.sheet->SetActivePage(0);

    EXPECT_EQ(rig.TabTitles(), QStringList{"Comms"});
    EXPECT_EQ(rig.sheet->CurrentIndex(), 0);
    EXPECT_EQ(rig.Combo()->currentText(), "");
    EXPECT_EQ(rig.link->closes, 0);
}

// A page whose button sends a command; the write fails, so the protocol
// object reconnects and the sheet replaces this very page while its handler
// is still running. The outcome is kept outside the page, so a page deleted
// too early shows as a failure, not as a crash.
struct HandlerOutcome {
    bool finished = false;
    bool aliveAfterRequest = false;
};

class ReconnectingPage : public CPageBase {
public:
    ReconnectingPage(const PageContext& context, std::shared_ptr<HandlerOutcome> outcome)
        : CPageBase(context, QStringLiteral("Printer Identity")) {
        button = new QPushButton(QStringLiteral("Reset"), this);
        note = new QLineEdit(this);
        QObject::connect(button, &QPushButton::clicked, this, [this, outcome] {
            const QPointer<CPageBase> self(this);
            Msg().SendCommand(cmd::DEF_RST);
            // What a handler may still do after its request returned: pause
            // (which lets paint events through) and touch its own controls.
            QCoreApplication::processEvents();
            outcome->aliveAfterRequest = !self.isNull();
            if (!self) return;
            note->setText(QStringLiteral("done"));
            outcome->finished = true;
        });
    }
    QPushButton* button = nullptr;
    QLineEdit* note = nullptr;
};

TEST(MainSheet, ReconnectFromInsideAPageHandlerKeepsThatPageAliveUntilItReturns) {
    auto outcome = std::make_shared<HandlerOutcome>();
    SheetRig rig([outcome](const PageContext& context) {
        FeaturePages pages = CountingPages(context);
        pages[0] = std::make_unique<ReconnectingPage>(context, outcome);
        return pages;
    });
    ASSERT_TRUE(rig.Choose("USB"));
    auto* page = dynamic_cast<ReconnectingPage*>(rig.sheet->PageAt(1));
    ASSERT_NE(page, nullptr);
    const QPointer<CPageBase> old(page);
    rig.link->writeResults = {0};  // the command's write fails

    gui::Click(page->button);

    EXPECT_EQ(rig.link->opens, 2);
    EXPECT_TRUE(outcome->aliveAfterRequest);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(page->note->text(), "done");
    EXPECT_EQ(rig.TabTitles(), kAllTitles);
    EXPECT_NE(rig.sheet->PageAt(1), old.data());
    EXPECT_EQ(rig.sheet->CurrentIndex(), 1);

    gui::FlushDeferredDeletes();
    EXPECT_TRUE(old.isNull());
}

TEST(MainSheet, ExitWithoutConnectClosesNoSocket) {
    SheetRig rig;
    gui::Click(rig.sheet->ExitButton());
    EXPECT_FALSE(CKTUtilityApp::CloseDown(rig.state, rig.msg, rig.sheet));
    EXPECT_EQ(rig.sheet, nullptr);
}

// Connecting does not make the window jump, and a font large enough that
// the eight tab titles would outgrow the screen leaves the window on it: the
// tab strip scrolls instead. (The offscreen screen is 800 pixels wide: at
// these fonts the titles outgrow it while the pages still fit.)
TEST(MainSheet, WidthStaysSteadyAndWithinTheScreen) {
    for (const double scale : {0.8, 1.0, 1.1}) {
        const gui::ScaledAppFont font(scale);
        SheetRig rig;
        const int screenWidth = rig.sheet->screen()->availableGeometry().width();
        const int alone = rig.sheet->frameGeometry().width();
        EXPECT_LE(alone, screenWidth) << "scale " << scale;

        ASSERT_TRUE(rig.Choose("USB"));
        ASSERT_EQ(rig.sheet->PageCount(), 8);
        EXPECT_EQ(rig.sheet->frameGeometry().width(), alone) << "scale " << scale;
        // Titles that need more than the screen scroll in a window as wide
        // as the screen; otherwise every title is in view.
        QTabBar* bar = rig.sheet->Tabs()->tabBar();
        if (bar->sizeHint().width() > rig.sheet->Tabs()->width()) {
            EXPECT_EQ(alone, screenWidth) << "scale " << scale;
        } else {
            EXPECT_LT(bar->tabRect(7).right(), bar->width()) << "scale " << scale;
        }
    }
}

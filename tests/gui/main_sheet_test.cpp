#include "app/main_sheet.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <functional>
#include <utility>

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
    const std::pair<std::function<void(CMainSheet&)>, int> ends[] = {
        {[](CMainSheet& sheet) { gui::Click(sheet.ExitButton()); }, QDialog::Accepted},
        {[](CMainSheet& sheet) { sheet.EndDialog(1); }, 1},
    };
    for (const auto& [end, result] : ends) {
        SheetRig rig;
        end(*rig.sheet);
        EXPECT_FALSE(rig.sheet->isVisible());
        EXPECT_EQ(rig.sheet->result(), result);
        // Never connected: no socket to close.
        EXPECT_FALSE(CKTUtilityApp::CloseDown(rig.state, rig.msg, rig.sheet));
        EXPECT_EQ(rig.sheet, nullptr);
    }
}

TEST(MainSheet, ConnectAddsTheSevenPagesAndEachVisitActivatesItsPage) {
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

    // A page's first visit runs its set-up, then every visit activates it.
    rig.ClickTab(3);
    EXPECT_EQ(rig.sheet->CurrentIndex(), 3);
    rig.ClickTab(1);
    rig.ClickTab(3);
    EXPECT_EQ(Counting(*rig.sheet, 1)->inits, 1);
    EXPECT_EQ(Counting(*rig.sheet, 1)->activations, 2);
    EXPECT_EQ(Counting(*rig.sheet, 3)->inits, 1);
    EXPECT_EQ(Counting(*rig.sheet, 3)->activations, 2);
    EXPECT_EQ(Counting(*rig.sheet, 3)->activationsBeforeInit, 0);
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

// The Comms tab clicked, or a page making Comms active: the feature pages
// leave the sheet but live until the next rebuild, the link stays open.
TEST(MainSheet, ReturningToCommsTakesTheFeaturePagesOutButKeepsLinkAndPages) {
    const std::pair<const char*, std::function<void(SheetRig&)>> ways[] = {
        {"Comms tab", [](SheetRig& rig) { rig.ClickTab(0); }},
        {"a page's request", [](SheetRig& rig) { rig.sheet->SetActivePage(0); }},
    };
    for (const auto& [way, goBack] : ways) {
        SCOPED_TRACE(way);
        SheetRig rig;
        ASSERT_TRUE(rig.Choose("LPT2:"));
        ScriptedLink* link = rig.link;
        const std::vector<QPointer<CPageBase>> removed = FeaturePagesOf(*rig.sheet);

        goBack(rig);

        EXPECT_EQ(rig.TabTitles(), QStringList{"Comms"});
        EXPECT_EQ(rig.sheet->CurrentIndex(), 0);
        EXPECT_EQ(rig.Combo()->currentText(), "");
        EXPECT_EQ(rig.msg.CurrentLinkKind(), kLinkParallel);
        EXPECT_EQ(link->closes, 0);
        gui::FlushDeferredDeletes();
        for (const auto& page : removed) EXPECT_FALSE(page.isNull());

        ASSERT_TRUE(rig.Choose("USB"));
        EXPECT_EQ(rig.TabTitles(), kAllTitles);
        gui::FlushDeferredDeletes();
        for (const auto& page : removed) EXPECT_TRUE(page.isNull());
    }
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
        // The sheet sized itself by these titles before the pages existed.
        ASSERT_EQ(rig.TabTitles(), QStringList{"Comms"} + FeaturePageTitles());
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

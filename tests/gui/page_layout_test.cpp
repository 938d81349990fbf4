// How the pages stand on screen: edges that belong together line up at any
// font, and a maximised sheet gives its room to the report list.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QImage>
#include <QListWidget>
#include <utility>
#include <vector>

#include "gui_helpers.h"
#include "page_harness.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "pages/stats_cmnds_pp.h"

namespace {

using Identity = CPrinterIdentityPP::Id;

QRect At(const QWidget& page, const char* id) {
    const QWidget* control = gui::Control<QWidget>(page, id);
    return control ? control->geometry() : QRect();
}

}  // namespace

TEST(PageLayout, EdgesThatBelongTogetherLineUp) {
    using Pair = std::pair<const char*, const char*>;
    for (const double scale : {1.0, 1.5}) {
        const gui::ScaledAppFont font(scale);
        PageRig rig;
        CPrinterIdentityPP identity(rig.context);
        for (const auto& [left, right] : {Pair{Identity::kSerialNumber, Identity::kImageStart},
                                          Pair{Identity::kModel, Identity::kImageEnd},
                                          Pair{Identity::kFirmwareVersion, Identity::kDensity},
                                          Pair{Identity::kProductId, Identity::kPosition}}) {
            EXPECT_EQ(At(identity, left).top(), At(identity, right).top()) << left << " " << scale;
        }
        EXPECT_EQ(At(identity, Identity::kRefresh).width(), At(identity, Identity::kSave).width())
            << scale;
        EXPECT_EQ(At(identity, Identity::kReset).width(), At(identity, Identity::kSave).width())
            << scale;
        CStats_CmndsPP stats(rig.context);
        EXPECT_EQ(At(stats, CStats_CmndsPP::Id::kCommand).right(),
                  At(stats, CStats_CmndsPP::Id::kPrintFile).right())
            << scale;

        // The two group frames, as painted: first row below each box's top
        // that differs from the page above it, in a column clear of captions.
        identity.resize(identity.sizeHint());
        const QImage image = identity.grab().toImage();
        std::vector<int> frameTops;
        for (const QGroupBox* group : identity.findChildren<QGroupBox*>()) {
            const QRect box = group->geometry();
            const int x = box.left() + box.width() * 3 / 4;
            int y = box.top();
            while (y < box.bottom() && image.pixel(x, y) == image.pixel(x, box.top() - 1)) ++y;
            frameTops.push_back(y);
        }
        ASSERT_EQ(frameTops.size(), 2u);
        EXPECT_EQ(frameTops[0], frameTops[1]) << scale;
    }
}

// Maximised, the Query Printer report takes all the new room with its buttons
// beside it; a page without a list stays centred.
TEST(PageLayout, MaximisedSheetGrowsTheReportListOnly) {
    PageRig rig;
    const QSize extra(300, 200);
    CQueryPrinterPP query(rig.context);
    CPrinterIdentityPP identity(rig.context);
    for (QWidget* page : {static_cast<QWidget*>(&query), static_cast<QWidget*>(&identity)}) {
        page->show();
        page->resize(page->sizeHint());
    }
    const QRect list = query.ReportList()->geometry();
    const QRect print = At(query, CQueryPrinterPP::Id::kPrint);
    const QRect refresh = At(identity, Identity::kRefresh);
    query.resize(query.sizeHint() + extra);
    identity.resize(identity.sizeHint() + extra);
    EXPECT_EQ(query.ReportList()->geometry(), list.adjusted(0, 0, extra.width(), extra.height()));
    EXPECT_EQ(At(query, CQueryPrinterPP::Id::kPrint), print.translated(extra.width(), 0));
    EXPECT_EQ(At(identity, Identity::kRefresh), refresh.translated(extra.width() / 2, 0));
}

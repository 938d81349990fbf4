// How the pages stand on screen: edges that belong together line up at any
// font, and a maximised sheet gives its room to the page that can use it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <memory>
#include <vector>

#include "page_harness.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "pages/stats_cmnds_pp.h"

namespace {

using PageMaker = std::function<std::unique_ptr<CPageBase>(const PageContext&)>;

template <typename Page>
PageMaker Make() {
    return [](const PageContext& context) { return std::make_unique<Page>(context); };
}

QRect Geometry(const CPageBase& page, const char* id) {
    const auto* control = page.findChild<QWidget*>(QString::fromLatin1(id));
    return control ? control->geometry() : QRect();
}

// Pages built under a font `scale` times the normal one.
class ScaledFont {
public:
    explicit ScaledFont(double scale) : m_normal(QApplication::font()) {
        QFont font = m_normal;
        font.setPointSizeF(m_normal.pointSizeF() * scale);
        QApplication::setFont(font);
    }
    ~ScaledFont() { QApplication::setFont(m_normal); }

private:
    QFont m_normal;
};

}  // namespace

TEST(PageLayout, EdgesThatBelongTogetherLineUp) {
    enum Edge { Top, Right, Width };
    struct Case {
        const char* what;
        PageMaker make;
        const char* first;
        const char* second;
        Edge edge;
    };
    const Case cases[] = {
        {"Serial Number row, Image Start row", Make<CPrinterIdentityPP>(), "1000", "1047", Top},
        {"Model row, Image End row", Make<CPrinterIdentityPP>(), "1002", "1048", Top},
        {"Firmware row, Density row", Make<CPrinterIdentityPP>(), "1003", "1051", Top},
        {"Product ID row, Position row", Make<CPrinterIdentityPP>(), "1004", "1119", Top},
        {"Refresh, Save", Make<CPrinterIdentityPP>(), "1066", "1065", Width},
        {"Save, Reset", Make<CPrinterIdentityPP>(), "1065", "1055", Width},
        {"command box, path box", Make<CStats_CmndsPP>(), "1046", "1125", Right},
    };
    for (const double scale : {1.0, 1.5}) {
        const ScaledFont font(scale);
        PageRig rig;
        for (const Case& c : cases) {
            const std::unique_ptr<CPageBase> page = c.make(rig.context);
            const QRect first = Geometry(*page, c.first);
            const QRect second = Geometry(*page, c.second);
            ASSERT_TRUE(first.isValid() && second.isValid()) << c.what;
            const auto edge = [&](const QRect& r) {
                return c.edge == Top ? r.top() : c.edge == Right ? r.right() : r.width();
            };
            EXPECT_EQ(edge(first), edge(second)) << c.what << " at scale " << scale;
        }
    }
}

// The uncaptioned identity group and the "Configuration" group: their frames
// start on the same pixel row of the painted page.
TEST(PageLayout, IdentityGroupFramesShareTheirTopEdge) {
    for (const double scale : {1.0, 1.5}) {
        const ScaledFont font(scale);
        PageRig rig;
        CPrinterIdentityPP page(rig.context);
        page.resize(page.sizeHint());
        const QImage image = page.grab().toImage();
        const QList<QGroupBox*> groups = page.findChildren<QGroupBox*>();
        ASSERT_EQ(groups.size(), 2);
        std::vector<int> tops;
        for (const QGroupBox* group : groups) {
            // Down a column clear of any caption, from the page above the box.
            const QRect box = group->geometry();
            const int x = box.left() + box.width() * 3 / 4;
            const QRgb above = image.pixel(x, box.top() - 1);
            int y = box.top();
            while (y < box.bottom() && image.pixel(x, y) == above) ++y;
            tops.push_back(y);
        }
        EXPECT_EQ(tops[0], tops[1]) << "scale " << scale;
    }
}

// Maximised, the Query Printer report takes all the new room and its
// buttons stay beside it; a page without a list keeps its controls' sizes,
// centred.
TEST(PageLayout, MaximisedSheetGrowsTheReportListOnly) {
    PageRig rig;
    const QSize extra(300, 200);

    CQueryPrinterPP query(rig.context);
    query.show();
    query.resize(query.sizeHint());
    const QRect list = query.ReportList()->geometry();
    const QRect print = Geometry(query, "1102");
    query.resize(query.sizeHint() + extra);
    EXPECT_EQ(query.ReportList()->geometry(), list.adjusted(0, 0, extra.width(), extra.height()));
    EXPECT_EQ(Geometry(query, "1102"), print.translated(extra.width(), 0));

    CPrinterIdentityPP identity(rig.context);
    identity.show();
    identity.resize(identity.sizeHint());
    const QRect refresh = Geometry(identity, "1066");
    identity.resize(identity.sizeHint() + extra);
    EXPECT_EQ(Geometry(identity, "1066"), refresh.translated(extra.width() / 2, 0));
}

#include <gtest/gtest.h>

#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTemporaryDir>

#include "gui_helpers.h"
#include "pages/query_printer_pp.h"
#include "sim/sim_printer.h"
#include "sim_page_rig.h"
#include "support/recording_canvas.h"

namespace {

using Id = CQueryPrinterPP::Id;
using Lines = std::vector<std::string>;

// The Query Printer page on the in-process simulator, connected through the
// protocol object as the sheet would connect it.
struct SimRig : SimPageRig {
    std::unique_ptr<CQueryPrinterPP> page;

    explicit SimRig(const std::function<void(SimPrinterState&)>& setUp = nullptr) {
        if (setUp) printer->UpdateState(setUp);
        page = std::make_unique<CQueryPrinterPP>(context);
        page->Activate();
    }

    Lines ReportLines() const {
        Lines lines;
        for (int row = 0; row < page->ReportList()->count(); ++row) {
            lines.push_back(page->ReportList()->item(row)->text().toLatin1().toStdString());
        }
        return lines;
    }
};

}  // namespace

TEST(QueryPrinterPage, ControlsIdsAndPlaces) {
    SimRig rig;
    CQueryPrinterPP& page = *rig.page;
    const std::pair<QPushButton*, std::pair<const char*, const char*>> buttons[] = {
        {page.QueryButton(), {Id::kQuery, "Query"}},
        {page.SensorsButton(), {Id::kSensors, "Sensors"}},
        {page.OnButton(), {Id::kOn, "On"}},
        {page.OffButton(), {Id::kOff, "Off"}},
        {page.SaveButton(), {Id::kSave, "Save"}},
        {page.PrintButton(), {Id::kPrint, "Print"}},
    };
    for (const auto& [button, idText] : buttons) {
        EXPECT_EQ(button->objectName(), idText.first);
        EXPECT_EQ(button->text(), idText.second);
        // The column stands right of the list.
        EXPECT_GT(button->geometry().left(), page.ReportList()->geometry().right());
    }
    EXPECT_EQ(page.ReportList()->objectName(), Id::kReport);
    EXPECT_FALSE(page.ReportList()->accessibleName().isEmpty());
    EXPECT_EQ(page.ReportList()->selectionMode(), QAbstractItemView::NoSelection);
    EXPECT_NE(page.ReportList()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_NE(page.ReportList()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // Query, Sensors, On beside Off, Save, Print, top to bottom.
    const QRect query = page.QueryButton()->geometry(), sensors = page.SensorsButton()->geometry(),
                on = page.OnButton()->geometry(), off = page.OffButton()->geometry(),
                save = page.SaveButton()->geometry(), print = page.PrintButton()->geometry();
    EXPECT_LT(query.bottom(), sensors.top());
    EXPECT_LT(sensors.bottom(), on.top());
    EXPECT_EQ(on.top(), off.top());
    EXPECT_LT(on.right(), off.left());
    EXPECT_LT(on.bottom(), save.top());
    EXPECT_LT(save.bottom(), print.top());

    // Created and activated: an empty report, nothing to save or print,
    // nothing asked of the printer.
    EXPECT_EQ(page.ReportList()->count(), 0);
    EXPECT_FALSE(page.SaveButton()->isEnabled());
    EXPECT_FALSE(page.PrintButton()->isEnabled());
    page.Activate();
    EXPECT_TRUE(rig.printer->Frames().empty());
}

TEST(QueryPrinterPage, QueryListsTheItemsUnderTheHeadLines) {
    SimRig rig;
    gui::Click(rig.page->QueryButton());

    // The head lines and items are the run's rule; the page names its own
    // port and lists every line the run hands it.
    const Lines lines = rig.ReportLines();
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[2], "Connected  Via  Ethernet");
    EXPECT_EQ(lines[6], "MODEL: Sable");

    EXPECT_TRUE(rig.page->SaveButton()->isEnabled());
    EXPECT_TRUE(rig.page->PrintButton()->isEnabled());
    EXPECT_EQ(rig.host.waitCursorShows, 1);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
    EXPECT_TRUE(rig.host.boxes.empty());

    // The list keeps the printer's bytes but shows each line on one row.
    QListWidget* list = rig.page->ReportList();
    const QString last = list->item(list->count() - 1)->text();
    EXPECT_EQ(last, "LAST ERROR: NONE\n");
    auto* delegate = qobject_cast<QStyledItemDelegate*>(list->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    EXPECT_EQ(delegate->displayText(last, QLocale()), "LAST ERROR: NONE");

    // A second run, by Enter on the focused button, replaces the report.
    rig.printer->ClearFrames();
    rig.page->QueryButton()->setFocus();
    gui::KeyClick(rig.page->QueryButton(), Qt::Key_Return);
    EXPECT_EQ(rig.printer->Frames().size(), 6u);
    EXPECT_EQ(rig.ReportLines().size(), lines.size());
}

TEST(QueryPrinterPage, SensorsDisablesPrintAndSaveWhileItRunsQueryDoesNot) {
    SimRig rig;
    CQueryPrinterPP& page = *rig.page;
    gui::Click(page.QueryButton());
    ASSERT_TRUE(page.PrintButton()->isEnabled());

    std::vector<std::pair<bool, bool>> seen;  // (Print, Save) at every request
    rig.printer->SetFrameObserver([&](const SimFrame&) {
        seen.emplace_back(page.PrintButton()->isEnabled(), page.SaveButton()->isEnabled());
    });
    gui::Click(page.SensorsButton());
    ASSERT_EQ(seen.size(), 5u);
    for (const auto& state : seen) EXPECT_EQ(state, std::make_pair(false, false));
    EXPECT_TRUE(page.PrintButton()->isEnabled());
    EXPECT_TRUE(page.SaveButton()->isEnabled());

    seen.clear();
    gui::Click(page.QueryButton());
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& state : seen) EXPECT_EQ(state, std::make_pair(true, true));
    rig.printer->SetFrameObserver(nullptr);
}

// Where a run ends is the task's rule; the page shows what came and says,
// once the run is over, that it is not whole.
TEST(QueryPrinterPage, AnIncompleteReportIsShownWithWordOfIt) {
    SimRig rig([](SimPrinterState& s) {
        s.queryItems = {"FIRST"};
        s.numberedTailReply = "MORE\n";
    });
    gui::Click(rig.page->QueryButton());
    const Lines lines = rig.ReportLines();
    ASSERT_EQ(lines.size(), 6u + 127u);
    EXPECT_EQ(lines[6], "FIRST");
    ASSERT_EQ(rig.host.BoxTexts(),
              Lines{"The printer sent no end of the report by item 127: the report is "
                    "incomplete."});
    EXPECT_EQ(rig.host.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(rig.page->SaveButton()->isEnabled());
    EXPECT_TRUE(rig.page->PrintButton()->isEnabled());
}

TEST(QueryPrinterPage, SaveWritesTheLinesAsLatin1OrSaysWhereAndWhyNot) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SimRig rig([](SimPrinterState& s) {
        s.queryItems = {
            "TEMP: 25\xB0"
            "C",
            "CAF\xC9\r\nOK\n"};
    });
    gui::Click(rig.page->QueryButton());
    const Lines lines = rig.ReportLines();
    ASSERT_EQ(lines.size(), 9u);

    gui::Click(rig.page->SaveButton());  // cancelled: nothing to write or tell
    const QString path = dir.filePath("report.txt");
    rig.host.saveFileAnswers.push_back(path.toStdString());
    gui::Click(rig.page->SaveButton());
    const std::string expected = "QUERY PRINTER RESULTS\r\n\r\nConnected  Via  Ethernet\r\n\r\n" +
                                 lines[4] +
                                 "\r\n\r\nTEMP: 25\xB0"
                                 "C\r\nCAF\xC9\r\r\nOK\r\n";
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), expected);
    EXPECT_TRUE(rig.host.boxes.empty());

    // A save that fails says where and why, and the report stays.
    const QString missing = dir.filePath("gone/report.txt");
    rig.host.saveFileAnswers.push_back(missing.toStdString());
    gui::Click(rig.page->SaveButton());
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    // The reason, in the system's words, follows the name.
    const std::string head = "The report could not be saved to\n" + missing.toStdString() + "\n\n";
    EXPECT_EQ(rig.host.boxes[0].text.substr(0, head.size()), head);
    EXPECT_GT(rig.host.boxes[0].text.size(), head.size());
    EXPECT_EQ(rig.host.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(rig.host.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(rig.ReportLines(), lines);
}

TEST(QueryPrinterPage, PrintHandsTheListToTheCanvasTheDialogGave) {
    // A canvas the page may destroy; what it recorded outlives it.
    struct KeptCanvas : RecordingCanvas {
        RecordingCanvas* keep = nullptr;
        ~KeptCanvas() override { *keep = *this; }
    };
    SimRig rig;
    gui::Click(rig.page->QueryButton());
    const Lines lines = rig.ReportLines();
    ASSERT_EQ(lines.size(), 16u);

    // No printer chosen: nothing happens.
    gui::Click(rig.page->PrintButton());
    EXPECT_EQ(rig.host.printDialogs, 1);

    RecordingCanvas kept;
    auto canvas = std::make_unique<KeptCanvas>();
    canvas->keep = &kept;
    rig.host.printCanvases.push_back(std::move(canvas));
    gui::Click(rig.page->PrintButton());
    ASSERT_EQ(rig.host.printDialogs, 2);

    // The page and its headers are the layout's; the page hands it the
    // list's lines and the dialog's canvas, and ends the job.
    EXPECT_EQ(kept.calls.back(), "EndDoc");
    Lines body;
    for (const RecordingCanvas::Text& t : kept.texts) {
        if (t.y >= 300) body.push_back(t.text);  // below the headers
    }
    EXPECT_EQ(body, lines);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
}

TEST(QueryPrinterPage, OnAndOffStartTheHelperScriptsDetached) {
    SimRig rig;
    gui::Click(rig.page->OnButton());
    gui::Click(rig.page->OffButton());
    EXPECT_EQ(rig.host.started,
              (decltype(rig.host.started){
                  {"/bin/sh", {"/usr/local/libexec/tessaly/enableomnikey.sh"}},
                  {"/bin/sh", {"/usr/local/libexec/tessaly/disableomnikey.sh"}}}));
    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_TRUE(rig.printer->Frames().empty());
    EXPECT_EQ(rig.page->ReportList()->count(), 0);
}

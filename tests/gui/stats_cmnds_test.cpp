#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gui_helpers.h"
#include "links/program_state.h"
#include "page_harness.h"
#include "pages/stats_cmnds_pp.h"
#include "sim/sim_printer.h"
#include "sim_page_rig.h"

namespace {

using Id = CStats_CmndsPP::Id;

const std::vector<std::string> kCounterReads = {"REQ,STA,TCQ", "REQ,STA,TCP", "REQ,STA,TCN",
                                                "REQ,STA,CCQ"};

std::vector<std::string> Then(std::vector<std::string> first,
                              const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

using gui::Button;
using gui::Edit;

QStringList Counters(QWidget& page) {
    QStringList texts;
    for (const char* id :
         {Id::kTotalCards, Id::kCardsOnPrinthead, Id::kCleaningCycles, Id::kCardsSinceClean}) {
        QLineEdit* edit = Edit(page, id);
        texts << (edit ? edit->text() : QStringLiteral("<no control>"));
    }
    return texts;
}

}  // namespace

TEST(StatsCommandsPage, ControlsCarryTheirIdsAndNames) {
    PageRig rig;
    CStats_CmndsPP page(rig.context);
    for (const char* id : {Id::kTotalCards, Id::kCardsOnPrinthead, Id::kCleaningCycles,
                           Id::kCardsSinceClean, Id::kPrintFile}) {
        ASSERT_NE(Edit(page, id), nullptr) << id;
        EXPECT_TRUE(Edit(page, id)->isReadOnly()) << id;
        EXPECT_FALSE(Edit(page, id)->accessibleName().isEmpty()) << id;
    }
    ASSERT_NE(Edit(page, Id::kCommand), nullptr);
    EXPECT_FALSE(Edit(page, Id::kCommand)->isReadOnly());
    EXPECT_FALSE(Edit(page, Id::kCommand)->accessibleName().isEmpty());
    EXPECT_EQ(Edit(page, Id::kCardsOnPrinthead)->accessibleName(),
              "Total No. of Cards on Printhead");
    ASSERT_NE(Button(page, Id::kSend), nullptr);
    ASSERT_NE(Button(page, Id::kBrowse), nullptr);
    ASSERT_NE(Button(page, Id::kPrint), nullptr);
    EXPECT_EQ(Button(page, Id::kSend)->text(), "Send");
    EXPECT_EQ(Button(page, Id::kBrowse)->text(), "Browse");
    EXPECT_EQ(Button(page, Id::kPrint)->text(), "Print");
    // Counters above the command, the command above the print file.
    EXPECT_LT(Edit(page, Id::kCardsOnPrinthead)->geometry().bottom(),
              Edit(page, Id::kCommand)->geometry().top());
    EXPECT_LT(Button(page, Id::kSend)->geometry().bottom(),
              Button(page, Id::kBrowse)->geometry().top());
}

TEST(StatsCommandsPage, CountersAreReadOnceWhenThePageIsCreated) {
    SimPageRig rig;
    rig.printer->UpdateState([](SimPrinterState& state) { state.values.erase("TCN"); });
    CStats_CmndsPP page(rig.context);

    page.Activate();

    EXPECT_EQ(Requests(*rig.printer), kCounterReads);
    // 5000 cards: the printer's total counts modulo 4096. A counter that does
    // not come back shows as an empty field.
    EXPECT_EQ(Counters(page), (QStringList{"904", "5210", "", "412"}));
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
    EXPECT_EQ(rig.host.waitCursorShows, 1);

    // Shown again: nothing is asked.
    rig.printer->SetValue("TCQ", "5001");
    page.Activate();
    page.Activate();
    EXPECT_EQ(Requests(*rig.printer), kCounterReads);
    EXPECT_EQ(Counters(page)[0], "904");
}

TEST(StatsCommandsPage, CommandFieldKeepsCapitalsWithTheCaretInPlace) {
    PageRig rig;
    CStats_CmndsPP page(rig.context);
    QLineEdit* command = Edit(page, Id::kCommand);
    for (QChar c : QStringLiteral("tst 1")) gui::KeyClick(command, 0, QString(c));
    EXPECT_EQ(command->text(), "TST 1");

    command->setCursorPosition(3);
    gui::KeyClick(command, 0, QStringLiteral("x"));
    EXPECT_EQ(command->text(), "TSTX 1");
    EXPECT_EQ(command->cursorPosition(), 4);

    command->insert(QStringLiteral("ab\xe9\xff"));  // pasted
    EXPECT_EQ(command->text(), QStringLiteral("TSTXAB\xc9\xff 1"));
    EXPECT_EQ(command->cursorPosition(), 8);

    // What is shown is all that can be sent.
    command->setText(QString(80, QLatin1Char('a')));
    EXPECT_EQ(command->text(), QString(63, QLatin1Char('A')));
}

TEST(StatsCommandsPage, SendTransmitsTheTextAsTypedThenRereadsTheCounters) {
    SimPageRig rig;
    CStats_CmndsPP page(rig.context);
    page.Activate();
    rig.printer->ClearFrames();
    Edit(page, Id::kCommand)->setText(QStringLiteral("tst"));

    gui::Click(Button(page, Id::kSend));

    EXPECT_EQ(Requests(*rig.printer), Then({"REQ,TST"}, kCounterReads));
    // The test card went through the printer.
    EXPECT_EQ(Counters(page), (QStringList{"905", "5211", "37", "413"}));
    // Ready to be sent again.
    EXPECT_EQ(Edit(page, Id::kCommand)->text(), "TST");
    EXPECT_TRUE(rig.host.boxes.empty());

    // Enter in the field sends as well.
    rig.printer->ClearFrames();
    Edit(page, Id::kCommand)->setText(QStringLiteral("cln"));
    gui::KeyClick(Edit(page, Id::kCommand), Qt::Key_Return);
    EXPECT_EQ(Requests(*rig.printer), Then({"REQ,CLN"}, kCounterReads));
    EXPECT_EQ(Counters(page)[2], "38");

    // Nothing typed: the task's warning, and the counters read all the same.
    rig.printer->ClearFrames();
    rig.printer->SetValue("CCQ", "0");
    Edit(page, Id::kCommand)->clear();
    gui::Click(Button(page, Id::kSend));
    EXPECT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(Requests(*rig.printer), kCounterReads);
    EXPECT_EQ(Counters(page)[3], "0");
}

// What Print sends is the task's rule; the page hands it the file browsed.
TEST(StatsCommandsPage, BrowseChoosesThePrintFileAndCancelForgetsIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string content("\x1b%-12345X\0\xff", 12);
    const std::string path = QFile::encodeName(dir.filePath("card.prn")).toStdString();
    std::ofstream(path, std::ios::binary) << content;
    PageRig rig;
    ScriptedLink& link = rig.Connect();
    CStats_CmndsPP page(rig.context);
    rig.host.openFileAnswers = {path, std::nullopt};

    gui::Click(Button(page, Id::kBrowse));
    EXPECT_EQ(rig.host.openFileFilters, std::vector<std::string>{".PRN Files (*.prn)"});
    EXPECT_EQ(Edit(page, Id::kPrintFile)->text().toStdString(), path);
    gui::Click(Button(page, Id::kPrint));
    EXPECT_EQ(link.writes, std::vector<std::string>{content});
    EXPECT_TRUE(rig.host.boxes.empty());

    // Print now names the empty path.
    link.writes.clear();
    gui::Click(Button(page, Id::kBrowse));
    EXPECT_EQ(Edit(page, Id::kPrintFile)->text(), "");
    gui::Click(Button(page, Id::kPrint));
    EXPECT_EQ(rig.host.BoxTexts(), std::vector<std::string>{"Error opening file:   \n''''   "});
    EXPECT_TRUE(link.writes.empty());
}

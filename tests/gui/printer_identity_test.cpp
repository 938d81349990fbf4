#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "gui_helpers.h"
#include "links/program_state.h"
#include "page_harness.h"
#include "pages/firmware_pp.h"
#include "pages/printer_identity_pp.h"
#include "sheet_rig.h"
#include "sim/sim_printer.h"
#include "sim_page_rig.h"

namespace {

using Id = CPrinterIdentityPP::Id;

// What one refresh asks of an "E" printer.
const std::vector<std::string> kRefresh = {"REQ,STA,VRS", "REQ,STA,MSR", "REQ,STA,VRS",
                                           "REQ,STA,PID", "REQ,STA,FDC", "REQ,STA,FSP",
                                           "REQ,STA,FEP", "REQ,STA,FPP", "REQ,STA,MDL"};

using gui::Button;
using gui::Edit;

QString Text(QWidget& page, const char* id) {
    QLineEdit* edit = Edit(page, id);
    return edit ? edit->text() : QStringLiteral("<no control %1>").arg(QLatin1String(id));
}

}  // namespace

TEST(PrinterIdentityPage, ControlsCarryTheirIdsLabelsAndPlaces) {
    PageRig rig;
    CPrinterIdentityPP page(rig.context);

    for (const char* id : {Id::kSerialNumber, Id::kModel, Id::kFirmwareVersion, Id::kProductId}) {
        ASSERT_NE(Edit(page, id), nullptr) << id;
        EXPECT_TRUE(Edit(page, id)->isReadOnly()) << id;
        EXPECT_FALSE(Edit(page, id)->accessibleName().isEmpty()) << id;
    }
    for (const char* id : {Id::kImageStart, Id::kImageEnd, Id::kDensity, Id::kPosition}) {
        ASSERT_NE(Edit(page, id), nullptr) << id;
        EXPECT_FALSE(Edit(page, id)->isReadOnly()) << id;
    }
    EXPECT_EQ(Edit(page, Id::kDensity)->accessibleName(), "Printhead Density");
    EXPECT_EQ(Edit(page, Id::kPosition)->accessibleName(), "Printhead Position");
    ASSERT_NE(Button(page, Id::kSave), nullptr);
    ASSERT_NE(Button(page, Id::kReset), nullptr);
    ASSERT_NE(Button(page, Id::kRefresh), nullptr);
    EXPECT_EQ(Button(page, Id::kSave)->text(), "Save");
    EXPECT_EQ(Button(page, Id::kReset)->text(), "Reset");
    EXPECT_EQ(Button(page, Id::kRefresh)->text(), "Refresh");
    EXPECT_EQ(page.DefaultButton(), Button(page, Id::kRefresh));

    // Identity on the left with Refresh below it; settings on the right.
    const QRect serial = Edit(page, Id::kSerialNumber)->geometry();
    const QRect productId = Edit(page, Id::kProductId)->geometry();
    const QRect refresh = Button(page, Id::kRefresh)->geometry();
    EXPECT_GT(refresh.top(), productId.bottom());
    for (const char* id : {Id::kImageStart, Id::kImageEnd, Id::kDensity, Id::kPosition}) {
        EXPECT_GT(Edit(page, id)->geometry().left(), serial.right()) << id;
    }
    EXPECT_GT(Button(page, Id::kReset)->geometry().top(),
              Button(page, Id::kSave)->geometry().bottom());
}

TEST(PrinterIdentityPage, FirstDisplayReadsEverythingTwiceStartingWithTheVersion) {
    SimPageRig rig;
    rig.printer->SetValue("PID", "6144");
    CPrinterIdentityPP page(rig.context);

    page.Activate();  // created, then shown

    std::vector<std::string> twice = kRefresh;
    twice.insert(twice.end(), kRefresh.begin(), kRefresh.end());
    EXPECT_EQ(Requests(*rig.printer), twice);

    EXPECT_EQ(Text(page, Id::kSerialNumber), "E1234567");
    EXPECT_EQ(Text(page, Id::kModel), "Sable");
    EXPECT_EQ(Text(page, Id::kFirmwareVersion), "E3.05");
    EXPECT_EQ(Text(page, Id::kProductId), "0x1800");
    EXPECT_EQ(Text(page, Id::kImageStart), "40");
    EXPECT_EQ(Text(page, Id::kImageEnd), "1010");
    EXPECT_EQ(Text(page, Id::kDensity), "50");
    EXPECT_EQ(Text(page, Id::kPosition), "0");
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
    EXPECT_EQ(rig.host.waitCursorShows, 2);
    EXPECT_TRUE(rig.host.boxes.empty());

    // A value that no longer comes back leaves an empty field, not the last;
    // only the model keeps what it showed (its label is the task's).
    rig.Remove("MSR");
    rig.Remove("MDL");
    page.Activate();
    EXPECT_EQ(Text(page, Id::kSerialNumber), "");
    EXPECT_EQ(Text(page, Id::kModel), "Sable");
}

TEST(PrinterIdentityPage, OemNameIsTakenAsTheRefreshBegins) {
    SimPageRig rig;
    rig.printer->SetValue("MDL", "10");
    CPrinterIdentityPP page(rig.context);
    page.Activate();  // later activations refresh once each
    rig.state.oemModelName = "Orion C200";
    // The name changes while the refresh is under way.
    rig.printer->SetFrameObserver([&rig](const SimFrame& frame) {
        if (frame.mnemonic == "MSR") rig.state.oemModelName = "Orion C300";
    });

    page.Activate();
    rig.printer->SetFrameObserver(nullptr);

    EXPECT_EQ(Text(page, Id::kModel), "Orion C200");
}

TEST(PrinterIdentityPage, SaveWritesFourSettingsInOrderThenShowsWhatThePrinterHolds) {
    SimPageRig rig;
    CPrinterIdentityPP page(rig.context);
    page.Activate();
    Edit(page, Id::kDensity)->setText("55");
    Edit(page, Id::kImageStart)->setText("45");
    Edit(page, Id::kImageEnd)->setText("");
    Edit(page, Id::kPosition)->setText("3");
    rig.printer->ClearFrames();
    rig.host.pauses.clear();
    // The printer keeps its own idea of the image end; the page must show it.
    int pauses = 0;
    rig.host.onPause = [&](int) {
        if (++pauses == 8) rig.printer->SetValue("FEP", "1016");
    };

    gui::Click(Button(page, Id::kSave));

    std::vector<std::string> expected = {"REQ,MOD,FDC55", "REQ,MOD,FSP45", "REQ,MOD,FEP",
                                         "REQ,MOD,FPP3"};
    for (const std::string& request : kRefresh) expected.push_back(request);
    EXPECT_EQ(Requests(*rig.printer), expected);
    EXPECT_EQ(Text(page, Id::kDensity), "55");
    EXPECT_EQ(Text(page, Id::kImageEnd), "1016");
}

// Back to the port choice only after a reset the printer received.
TEST(PrinterIdentityPage, ResetReturnsToCommsOnlyWhenItWentOut) {
    for (const bool there : {true, false}) {
        SCOPED_TRACE(there ? "sent" : "not sent");
        SimPageRig rig;
        CPrinterIdentityPP page(rig.context);
        page.Activate();
        rig.printer->UpdateState([there](SimPrinterState& s) { s.absent = !there; });
        rig.host.boxAnswers = {MsgResult::Yes, there ? MsgResult::Ok : MsgResult::Cancel};

        gui::Click(Button(page, Id::kReset));

        EXPECT_EQ(rig.sheet.activePages, there ? std::vector<int>{0} : std::vector<int>{});
    }
}

TEST(PrinterIdentityPage, SettingsTakeDigitsOnly) {
    SimPageRig rig;
    // A position the printer reports with a sign is shown as it came.
    rig.printer->SetValue("FPP", "-5");
    CPrinterIdentityPP page(rig.context);
    page.Activate();
    ASSERT_EQ(Text(page, Id::kPosition), "-5");

    QLineEdit* start = Edit(page, Id::kImageStart);
    start->clear();
    for (QChar c : QStringLiteral("1a-2 .3")) gui::KeyClick(start, 0, QString(c));
    EXPECT_EQ(start->text(), "123");
    start->insert(QStringLiteral("4x"));  // as a paste does
    EXPECT_EQ(start->text(), "123");
    start->insert(QStringLiteral("45"));
    EXPECT_EQ(start->text(), "12345");

    QLineEdit* position = Edit(page, Id::kPosition);
    position->end(false);
    gui::KeyClick(position, 0, QStringLiteral("x"));
    gui::KeyClick(position, 0, QStringLiteral("7"));
    EXPECT_EQ(position->text(), "-57");
    gui::KeyClick(position, Qt::Key_Backspace);
    gui::KeyClick(position, Qt::Key_Backspace);
    EXPECT_EQ(position->text(), "-");
}

// The sheet's pages share one default button: each page's must hold when
// the operator turns to it, whatever the pages before it took.
TEST(PrinterIdentityPage, EnterPressesTheDefaultButtonOfTheShownPage) {
    SimSheetRig rig;
    ASSERT_TRUE(rig.Choose("USB"));
    auto* page = qobject_cast<CPrinterIdentityPP*>(rig.sheet->PageAt(1));
    ASSERT_NE(page, nullptr);
    gui::Click(Button(*page, Id::kRefresh));
    ASSERT_TRUE(Button(*page, Id::kRefresh)->isDefault());

    // Upgrade Firmware: Enter upgrades (the question comes first).
    rig.ClickTab(3);
    QWidget* firmware = rig.sheet->PageAt(3);
    ASSERT_NE(firmware, nullptr);
    EXPECT_TRUE(Button(*firmware, CFirmwarePP::Id::kPrinterUpgrade)->isDefault());
    rig.host.boxAnswers = {MsgResult::No};
    rig.host.boxes.clear();
    gui::KeyClick(Edit(*firmware, CFirmwarePP::Id::kPrinterFile), Qt::Key_Return);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text.rfind("This command will upgrade the firmware", 0), 0u);

    // Another page takes the default while it is shown; back here, the
    // activation's refresh writes the settings again, unchanged, which still
    // counts as a change: Enter saves.
    rig.ClickTab(2);
    (new QPushButton(QStringLiteral("Other"), rig.sheet->PageAt(2)))->setDefault(true);
    rig.ClickTab(1);
    ASSERT_EQ(page->DefaultButton(), Button(*page, Id::kSave));
    EXPECT_FALSE(Button(*page, Id::kRefresh)->isDefault());
    rig.printer->ClearFrames();
    gui::KeyClick(Edit(*page, Id::kSerialNumber), Qt::Key_Return);
    std::vector<std::string> requests = Requests(*rig.printer);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0], "REQ,MOD,FDC50");

    gui::Click(Button(*page, Id::kRefresh));
    rig.printer->ClearFrames();
    gui::KeyClick(Edit(*page, Id::kSerialNumber), Qt::Key_Return);
    EXPECT_EQ(Requests(*rig.printer), kRefresh);

    Edit(*page, Id::kImageStart)->setFocus();
    gui::KeyClick(Edit(*page, Id::kImageStart), Qt::Key_9, QStringLiteral("9"));
    rig.printer->ClearFrames();
    gui::KeyClick(Edit(*page, Id::kImageStart), Qt::Key_Return);
    requests = Requests(*rig.printer);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0], "REQ,MOD,FDC50");
    EXPECT_EQ(rig.printer->Value("FSP"), "409");
}

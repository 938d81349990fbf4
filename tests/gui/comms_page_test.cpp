#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWheelEvent>

#include "app/app.h"
#include "controls/ip_address_edit.h"
#include "links/program_state.h"
#include "pages/set_ip.h"
#include "sheet_rig.h"

namespace {

const QStringList kPorts = {"Ethernet", "USB", "LPT1:", "LPT2:", "LPT3:", "LPT4:"};

// Answers the next Set IP dialog: with `address` and OK, or with Cancel when
// there is no address.
gui::ModalWatch AnswerSetIp(std::optional<uint32_t> address) {
    return gui::ModalWatch([address](QWidget* modal) {
        auto* dialog = qobject_cast<CSetIP*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "not the Set IP dialog";
            modal->close();
        } else if (address) {
            dialog->AddressField()->SetAddress(*address);
            gui::Click(dialog->OkButton());
        } else {
            gui::Click(dialog->CancelButton());
        }
    });
}

QStringList Entries(QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    return entries;
}

}  // namespace

TEST(CommsPage, PortBoxStartsEmptyWithTheSixPortsInOrder) {
    SheetRig rig;
    QComboBox* combo = rig.Combo();
    EXPECT_EQ(combo->objectName(), CCommsPP::kPortId);
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(combo->currentText(), "");
    EXPECT_EQ(Entries(combo), kPorts);
    EXPECT_FALSE(combo->accessibleName().isEmpty());

    QLabel* portLabel = nullptr;
    QLabel* prompt = nullptr;
    for (QLabel* label : rig.sheet->CommsPage()->findChildren<QLabel*>()) {
        if (label->text() == "Port:") portLabel = label;
        if (label->text() ==
            "Please ensure your printers are connected before selecting Port Type.") {
            prompt = label;
        }
    }
    ASSERT_NE(portLabel, nullptr);
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(portLabel->buddy(), combo);
    EXPECT_TRUE(prompt->alignment().testFlag(Qt::AlignHCenter));
    // Label left of the box, both below the prompt.
    EXPECT_LT(portLabel->geometry().right(), combo->geometry().left());
    EXPECT_GT(combo->geometry().top(), prompt->geometry().bottom());
}

TEST(CommsPage, TypedTextAndTheWheelConnectNothing) {
    SheetRig rig;
    // Should "Ethernet" be taken as chosen, its address dialog is closed.
    gui::ModalWatch unexpected([](QWidget* modal) { modal->close(); });
    QLineEdit* edit = rig.Combo()->lineEdit();
    gui::Type(edit, "USB");
    gui::KeyClick(edit, Qt::Key_Return);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &focusOut);

    // Nor does the wheel stepping through the entries.
    const QPointF centre = rig.Combo()->rect().center();
    QWheelEvent wheel(centre, rig.Combo()->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.Combo(), &wheel);

    EXPECT_TRUE(rig.linkRequests.empty());
    EXPECT_EQ(rig.TabTitles(), QStringList{"Comms"});
    EXPECT_EQ(Entries(rig.Combo()), kPorts);  // nothing inserted
    EXPECT_FALSE(unexpected.Ran());
    // Enter in the port box does not reach Exit either.
    EXPECT_TRUE(rig.sheet->isVisible());
}

// Cancelled at the address, nothing connects and the address stays (the
// address confirmed is followed to the printer in the test below).
TEST(CommsPage, EthernetCancelledAtTheAddressConnectsNothing) {
    SheetRig rig;
    rig.state.printerIpAddress = 0x0A000001;
    gui::ModalWatch watch = AnswerSetIp(std::nullopt);

    ASSERT_TRUE(rig.Choose("Ethernet"));

    EXPECT_TRUE(watch.Ran());
    EXPECT_EQ(rig.state.printerIpAddress, 0x0A000001u);
    EXPECT_TRUE(rig.linkRequests.empty());
    EXPECT_EQ(rig.sheet->PageCount(), 1);
}

// The program's own USB and parallel links with no printer behind them:
// Retry or Cancel is asked, and Cancel leaves Comms alone with the port.
TEST(CommsPage, UnreachablePrinterAsksRetryCancelAndCancelKeepsCommsAlone) {
    for (const QString& port : kPorts.mid(1)) {
        SCOPED_TRACE(port.toStdString());
        SheetRig rig;
        rig.msg.SetLinkFactory(DefaultLinkFactory(rig.state));
        rig.host.boxAnswers = {MsgResult::Cancel};

        ASSERT_TRUE(rig.Choose(port));

        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text, CMessageIF::kConnectFailedText);
        EXPECT_EQ(rig.TabTitles(), QStringList{"Comms"});
        EXPECT_EQ(rig.Combo()->currentText(), port);
        EXPECT_EQ(rig.msg.CurrentLinkKind(), port == "USB" ? kLinkUsb : kLinkParallel);
    }
}

// Ethernet end to end: the address typed in the dialog reaches a printer
// listening on this machine, and the program's close-down closes that socket.
TEST(CommsPage, EthernetReachesTheSimulatedPrinterAndCloseDownClosesItsSocket) {
    TcpSheetRig rig;
    gui::ModalWatch watch = AnswerSetIp(0x7F000001);

    ASSERT_TRUE(rig.Choose("Ethernet"));

    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_EQ(rig.state.printerIpAddress, 0x7F000001u);
    EXPECT_EQ(rig.sheet->PageCount(), 8);
    EXPECT_EQ(rig.tcp.server.ConnectionsAccepted(), 1);

    gui::Click(rig.sheet->ExitButton());
    EXPECT_TRUE(CKTUtilityApp::CloseDown(rig.state, rig.msg, rig.sheet));
    EXPECT_FALSE(rig.state.HasActiveEthernetSocket());
}

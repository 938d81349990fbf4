// tessaly-screenshots: pictures of the program for its README, taken from
// the real sheet and pages talking over TCP to the simulated printer.
//
//   tessaly-screenshots OUTDIR PORT
//
// The simulator must listen on 127.0.0.1:PORT. The tool connects as an
// operator would (Ethernet, 127.0.0.1), runs a query report and a card read,
// and writes comms.png, printer-identity.png, query-printer.png and
// mag-read.png into OUTDIR. Any message box means something went wrong: the
// tool names it and fails rather than picture it.

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/main_sheet.h"
#include "app/qt_host_services.h"
#include "controls/ip_address_edit.h"
#include "links/ethernet_if.h"
#include "links/program_state.h"
#include "pages/comms_pp.h"
#include "pages/mag_read_pp.h"
#include "pages/query_printer_pp.h"
#include "pages/set_ip.h"
#include "protocol/message_if.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kQueryTab = 4;
constexpr int kMagReadTab = 7;
// Long enough for a slow machine to connect, query and read; a hang
// (a box nobody answers) ends the run instead of the build.
constexpr int kGiveUpMs = 120000;
constexpr int kSettleMs = 300;

[[noreturn]] void Fail(const QString& why) {
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(why));
    std::exit(1);
}

// Lets the window system catch up with what the sheet just did.
void Settle() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kSettleMs) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget& window, const QDir& dir, const char* name) {
    Settle();
    const QString path = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!window.grab().save(path)) Fail(QStringLiteral("cannot write %1").arg(path));
    std::printf("screenshots: %s\n", qPrintable(path));
}

template <typename Widget>
Widget* Control(QWidget& page, const char* id) {
    auto* control = page.findChild<Widget*>(QString::fromLatin1(id));
    if (!control) Fail(QStringLiteral("no control %1 on %2").arg(id, page.windowTitle()));
    return control;
}

// Answers the address dialog with the simulator's address and fails on any
// other box that opens.
void WatchModals(QTimer& timer) {
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        if (auto* dialog = qobject_cast<CSetIP*>(modal)) {
            dialog->AddressField()->SetAddress(kLoopback);
            dialog->OkButton()->click();
            return;
        }
        QString text = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            text += QStringLiteral(": ") + box->text();
        Fail(QStringLiteral("unexpected box (%1)").arg(text));
    });
    timer.start();
}

// Picks a port from the Comms page's list the way the keyboard does.
void ChoosePort(QComboBox* combo, const QString& port) {
    const int row = combo->findText(port);
    if (row < 0) Fail(QStringLiteral("no port %1").arg(port));
    combo->showPopup();
    combo->view()->setCurrentIndex(combo->model()->index(row, combo->modelColumn()));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(combo->view(), &press);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    bool portOk = false;
    const uint port = argc == 3 ? QString::fromLocal8Bit(argv[2]).toUInt(&portOk) : 0;
    if (!portOk || port == 0 || port > 65535) {
        std::fprintf(stderr, "usage: tessaly-screenshots OUTDIR PORT\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists()) Fail(QStringLiteral("no folder %1").arg(dir.path()));

    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { Fail(QStringLiteral("timed out")); });
    giveUp.start(kGiveUpMs);
    QTimer modals;
    WatchModals(modals);

    tessaly::ProgramState state;
    QtHostServices host;
    CMessageIF msg(host);
    msg.SetLinkFactory([&state, port](int, const std::string&) {
        return std::make_unique<CEthernetIF>(state, static_cast<uint16_t>(port));
    });
    CMainSheet sheet(msg, host, host, state);
    msg.SetMainSheet(&sheet);
    sheet.show();
    Save(sheet, dir, "comms");

    ChoosePort(sheet.CommsPage()->PortCombo(), QString::fromLatin1(CCommsPP::kEthernetPort));
    if (sheet.PageCount() != kFeaturePageCount + 1) Fail(QStringLiteral("no connection"));
    Save(sheet, dir, "printer-identity");

    sheet.Tabs()->setCurrentIndex(kQueryTab);
    Control<QPushButton>(*sheet.PageAt(kQueryTab), CQueryPrinterPP::Id::kQuery)->click();
    Save(sheet, dir, "query-printer");

    sheet.Tabs()->setCurrentIndex(kMagReadTab);
    CPageBase& magRead = *sheet.PageAt(kMagReadTab);
    for (const char* track : CMagReadPP::Id::kSelects) {
        Control<QCheckBox>(magRead, track)->setChecked(true);
    }
    Control<QPushButton>(magRead, CMagReadPP::Id::kRead)->click();
    Save(sheet, dir, "mag-read");

    msg.SetMainSheet(nullptr);
    return 0;
}

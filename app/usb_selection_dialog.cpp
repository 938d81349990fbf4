#include "app/usb_selection_dialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QPushButton>

#include "controls/dialog_units.h"

namespace {

// The layout in dialog units.
constexpr QSize kDialogSize{316, 90};
constexpr QRect kListRect{14, 7, 283, 48};
constexpr QRect kOkRect{101, 61, 101, 14};

}  // namespace

CUSB_Selection::CUSB_Selection(CUsbDiscovery& discovery, IHostServices& host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_discovery(discovery),
      m_host(host) {
    setObjectName(QString::number(kDialogId));
    setWindowTitle(QString::fromLatin1(kTitle));
    setModal(true);

    const CDialogUnits units(font());
    setFixedSize(units.Size(kDialogSize.width(), kDialogSize.height()));

    m_list = new QListWidget(this);
    m_list->setObjectName(QString::number(kListId));
    m_list->setAccessibleName(QStringLiteral("USB printers"));
    m_list->setGeometry(
        units.Rect(kListRect.x(), kListRect.y(), kListRect.width(), kListRect.height()));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Lines can be longer than the list is wide (a print queue's name, a
    // long serial number); let the operator scroll to the product ID.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QString::number(kOkId));
    m_ok->setGeometry(units.Rect(kOkRect.x(), kOkRect.y(), kOkRect.width(), kOkRect.height()));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &CUSB_Selection::OnOk);

    setTabOrder(m_ok, m_list);
}

bool CUSB_Selection::Initialise() {
    const UsbSelectionLines shown = PrepareUsbSelection(m_discovery, m_host);
    for (const std::string& line : shown.lines) m_list->addItem(QString::fromLatin1(line));
    m_list->setCurrentRow(0);
    // The first control of the layout, OK, has the focus: Enter confirms.
    m_ok->setFocus();
    return shown.discovered;
}

int CUSB_Selection::Run() {
    if (!Initialise()) return QDialog::Rejected;
    return exec();
}

void CUSB_Selection::OnOk() {
    const bool selected = m_list->selectionModel() && m_list->selectionModel()->hasSelection();
    ConfirmUsbSelection(m_discovery.State(), selected ? m_list->currentRow() : -1);
    accept();
}

CQtUsbSelectionRunner::CQtUsbSelectionRunner(std::function<QWidget*()> parent)
    : m_parent(std::move(parent)) {}

void CQtUsbSelectionRunner::RunSelection(CUsbDiscovery& discovery, IHostServices& host) {
    QWidget* parent = m_parent ? m_parent() : QApplication::activeWindow();
    CUSB_Selection dialog(discovery, host, parent);
    dialog.Run();
}

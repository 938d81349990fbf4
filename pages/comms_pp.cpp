#include "pages/comms_pp.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>

#include "links/program_state.h"
#include "pages/set_ip.h"
#include "protocol/message_if.h"

namespace {

constexpr const char* kPorts[] = {
    CCommsPP::kEthernetPort, "USB", "LPT1:", "LPT2:", "LPT3:", "LPT4:"};

}  // namespace

CCommsPP::CCommsPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Comms"), parent) {
    SetTemplateSize(337, 140);

    QLabel* prompt = AddLabel(
        tr("Please ensure your printers are connected before selecting Port Type."), nullptr);
    prompt->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    prompt->setWordWrap(true);
    Place(prompt, 45, 31, 247, 22);

    m_port = new QComboBox(this);
    m_port->setObjectName(QString::fromLatin1(kPortId));
    m_port->setEditable(true);
    // The edit field only shows the choice; typed text is never a port.
    m_port->setInsertPolicy(QComboBox::NoInsert);
    m_port->setCompleter(nullptr);
    Place(AddLabel(tr("Port:"), m_port), 86, 78, 18, 9);
    Place(m_port, 108, 77, 121, 0);
    // An editable combo box also reports "activated" when typed text matching
    // an entry is confirmed; only a choice from the list may connect.
    disconnect(m_port->lineEdit(), &QLineEdit::editingFinished, m_port, nullptr);
    connect(m_port, &QComboBox::activated, this, &CCommsPP::OnPortChosen);
    m_port->installEventFilter(this);
}

void CCommsPP::OnInitDialog() {
    for (const char* port : kPorts) m_port->addItem(QString::fromLatin1(port));
    // Nothing is chosen until the operator chooses.
    m_port->setCurrentIndex(-1);
}

void CCommsPP::OnSetActive() {
    // The link stays open: the operator may come back here just to look, and
    // the next port choice closes it.
    Sheet().RemoveFeaturePages();
    m_port->lineEdit()->clear();
}

bool CCommsPP::eventFilter(QObject* watched, QEvent* event) {
    // The wheel steps a closed combo box through its entries, each step a
    // choice; a connect must not start because the pointer passed over it.
    if (watched == m_port && event->type() == QEvent::Wheel) return true;
    return CPageBase::eventFilter(watched, event);
}

void CCommsPP::OnPortChosen(int index) {
    const QString port = m_port->itemText(index);
    if (port == QLatin1String(kEthernetPort)) {
        CSetIP addressDialog(State().printerIpAddress);
        if (addressDialog.exec() != QDialog::Accepted) return;
    }
    // Success shows itself as the rebuilt pages; failure was already reported
    // by the connect loop's Retry/Cancel box.
    Msg().SelectPort(ToLatin1(port));
}

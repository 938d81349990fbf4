#include "pages/set_ip.h"

#include <QLabel>
#include <QPushButton>

#include "controls/ip_address_edit.h"
#include "pages/page_base.h"

namespace {

// The dialog's template in dialog units.
constexpr int kWidth = 186;
constexpr int kHeight = 90;
constexpr int kLastField = 3;

}  // namespace

CSetIP::CSetIP(uint32_t& address, QWidget* parent) : QDialog(parent), m_stored(address) {
    setWindowTitle(tr("Set IP address"));
    const CDialogUnits units(font());

    auto* label = new QLabel(tr("Enter IP address of printer"), this);
    label->setGeometry(units.Rect(33, 18, 120, 9));

    m_address = new CIpAddressEdit(this);
    m_address->setObjectName(QString::fromLatin1(Id::kAddress));
    m_address->SetAccessibleLabel(label->text());
    const QRect field = units.Rect(33, 31, 120, 13);
    m_address->setGeometry(field.x(), field.y(), field.width(),
                           std::max(field.height(), m_address->sizeHint().height()));
    label->setBuddy(m_address);

    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setObjectName(QString::fromLatin1(Id::kOk));
    m_ok->setDefault(true);
    m_ok->setGeometry(units.Rect(33, 62, 50, 14));
    connect(m_ok, &QPushButton::clicked, this, &CSetIP::accept);

    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QString::fromLatin1(Id::kCancel));
    m_cancel->setGeometry(units.Rect(103, 62, 50, 14));
    connect(m_cancel, &QPushButton::clicked, this, &CSetIP::reject);

    setFixedSize(units.Size(kWidth, kHeight));

    m_address->SetAddress(kDefaultAddress);
    // The operator usually changes only the host part, which is where the
    // caret waits.
    m_address->SetFieldFocus(kLastField);
}

void CSetIP::accept() {
    m_stored = m_address->Address();
    QDialog::accept();
}

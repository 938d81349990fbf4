#include "controls/ip_address_edit.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>
#include <utility>

namespace {

constexpr int kMaxDigits = 3;
constexpr int kFieldMax = 255;

// Digits up to 255; a keystroke that would go beyond is refused rather than
// left for the operator to find at OK.
class FieldValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (input.isEmpty()) return Acceptable;
        if (input.size() > kMaxDigits) return Invalid;
        for (QChar c : input) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
        }
        return input.toInt() <= kFieldMax ? Acceptable : Invalid;
    }
};

}  // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QFrame(parent) {
    // One sunken edit frame holding four borderless fields, so the address
    // reads as a single entry box. The frame keeps its width for the layout;
    // paintEvent draws it.
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    for (int i = 0; i < kFieldCount; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i + 1));
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(kMaxDigits);
        field->setValidator(new FieldValidator(field));
        // Tab leaves the address as a whole; the fields are reached by typing,
        // the arrow keys and the mouse.
        field->setFocusPolicy(Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        connect(field, &QLineEdit::textChanged, this, [this] {
            m_unset = false;
            emit AddressChanged();
        });
        layout->addWidget(field, 1);
        m_fields[i] = field;
    }
    // Tab enters the address at its first number. Qt hands a frame's focus
    // policy on to its focus proxy and leaves a widget with a proxy out of
    // the Tab chain, so the first number itself must take both Tab and the
    // mouse; a Tab-only policy here made it ignore clicks.
    setFocusProxy(m_fields[0]);
    setFocusPolicy(Qt::StrongFocus);
}

uint32_t CIpAddressEdit::Address() const {
    uint32_t address = 0;
    for (const QLineEdit* field : m_fields) {
        // toUInt gives 0 for a blank field, which is what a blank field means.
        address = (address << 8) | (field->text().toUInt() & 0xFF);
    }
    return address;
}

void CIpAddressEdit::SetAddress(uint32_t address) {
    for (int i = 0; i < kFieldCount; ++i) {
        const uint32_t byte = (address >> (8 * (kFieldCount - 1 - i))) & 0xFF;
        m_fields[i]->setText(QString::number(byte));
    }
    m_unset = false;
}

void CIpAddressEdit::Clear() {
    for (QLineEdit* field : m_fields) field->clear();
    m_unset = true;
}

bool CIpAddressEdit::IsBlank() const {
    for (const QLineEdit* field : m_fields) {
        if (!field->text().isEmpty()) return false;
    }
    return true;
}

void CIpAddressEdit::SetFieldFocus(int field) {
    if (field < 0 || field >= kFieldCount) return;
    m_currentField = field;
    m_fields[field]->setFocus(Qt::OtherFocusReason);
    m_fields[field]->selectAll();
}

int CIpAddressEdit::CurrentField() const { return m_currentField; }

void CIpAddressEdit::SetAccessibleLabel(const QString& label) {
    setAccessibleName(label);
    for (int i = 0; i < kFieldCount; ++i) {
        m_fields[i]->setAccessibleName(
            tr("%1, field %2 of %3").arg(label).arg(i + 1).arg(kFieldCount));
    }
}

QSize CIpAddressEdit::sizeHint() const {
    // Room for "255.255.255.255" with a little air in each field.
    const QFontMetrics metrics(font());
    const int fieldWidth = metrics.horizontalAdvance(QStringLiteral("0000"));
    const int dotWidth = metrics.horizontalAdvance(QLatin1Char('.'));
    const int frame = 2 * frameWidth() + 4;
    return QSize(kFieldCount * fieldWidth + (kFieldCount - 1) * dotWidth + frame,
                 m_fields[0]->sizeHint().height() + frame);
}

bool CIpAddressEdit::HasFocusWithin() const {
    const QWidget* focused = QApplication::focusWidget();
    return focused && isAncestorOf(focused);
}

void CIpAddressEdit::paintEvent(QPaintEvent*) {
    // Drawn as the style draws a line edit, focus outline included, whichever
    // of the four numbers holds the caret: the address is one input.
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (HasFocusWithin()) option.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}

int CIpAddressEdit::IndexOf(QObject* field) const {
    for (int i = 0; i < kFieldCount; ++i) {
        if (m_fields[i] == field) return i;
    }
    return -1;
}

void CIpAddressEdit::MoveCaretTo(int field, bool atEnd) {
    QLineEdit* edit = m_fields[field];
    m_currentField = field;
    edit->setFocus(Qt::OtherFocusReason);
    if (atEnd) {
        edit->end(false);
    } else {
        edit->home(false);
    }
}

void CIpAddressEdit::OnFieldEdited(int field) {
    // A full field can take no further digit, so typing flows on into the
    // next one as it does in the desktop's address control.
    QLineEdit* edit = m_fields[field];
    if (edit->text().size() == kMaxDigits && edit->cursorPosition() == kMaxDigits &&
        field + 1 < kFieldCount) {
        SetFieldFocus(field + 1);
        m_autoAdvanced = true;
    }
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int field = IndexOf(watched);
    if (field < 0) return QFrame::eventFilter(watched, event);

    if (event->type() == QEvent::FocusIn) {
        m_currentField = field;
        update();
        return false;
    }
    if (event->type() == QEvent::FocusOut) {
        update();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;

    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* edit = m_fields[field];
    // Operators type the separator out of habit even after three digits have
    // already moved the caret on; that separator has done its work.
    const bool afterAutoAdvance = std::exchange(m_autoAdvanced, false);
    const bool atStart = edit->cursorPosition() == 0 && !edit->hasSelectedText();
    const bool atEnd = edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText();

    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            // A separator only moves on from a field that holds something;
            // it is never typed into a field.
            if (!afterAutoAdvance && !edit->text().isEmpty() && field + 1 < kFieldCount) {
                SetFieldFocus(field + 1);
            }
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Left:
            if (atStart && field > 0) {
                MoveCaretTo(field - 1, true);
                return true;
            }
            return false;
        case Qt::Key_Right:
            if (atEnd && field + 1 < kFieldCount) {
                MoveCaretTo(field + 1, false);
                return true;
            }
            return false;
        default:
            return false;
    }
}

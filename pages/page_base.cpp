#include "pages/page_base.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

CPageBase::CPageBase(const PageContext& context, const QString& title, QWidget* parent)
    : QWidget(parent), m_context(context), m_title(title), m_units(font()) {
    setWindowTitle(title);
}

void CPageBase::Activate() {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    OnSetActive();
}

namespace {

// A label's text as a screen reader should say it: one line, no colon.
QString SpokenLabel(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (text.endsWith(QLatin1Char(':'))) text.chop(1);
    return text;
}

}  // namespace

QLineEdit* CPageBase::AddEdit(const char* id, bool readOnly) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(id));
    edit->setReadOnly(readOnly);
    return edit;
}

QPushButton* CPageBase::AddButton(const QString& text, const char* id) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(id));
    return button;
}

QLabel* CPageBase::AddLabel(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, this);
    if (!buddy) return label;
    label->setBuddy(buddy);
    if (qobject_cast<QAbstractButton*>(buddy)) {
        buddy->setAccessibleDescription(SpokenLabel(text));
    } else {
        buddy->setAccessibleName(SpokenLabel(text));
    }
    return label;
}

void CPageBase::MakeDefault(QPushButton* button) {
    // Off and on again: setting the flag it already has would not take the
    // role back from a button that took it meanwhile.
    button->setDefault(false);
    button->setDefault(true);
}

QSize CPageBase::sizeHint() const {
    return m_templateSize.isValid() ? m_templateSize : QWidget::sizeHint();
}

void CPageBase::SetTemplateSize(int width, int height) {
    m_templateSize = m_units.Size(width, height);
    updateGeometry();
}

void CPageBase::Place(QWidget* control, int x, int y, int width, int height) {
    QRect rect = m_units.Rect(x, y, width, height);
    if (height <= 0) rect.setHeight(control->sizeHint().height());
    m_placements.push_back({control, rect});
    control->setGeometry(Arranged(m_placements.back()));
}

void CPageBase::SetGrowingControl(QWidget* control) {
    m_growing = control;
    Arrange();
}

void CPageBase::NudgePlacement(QWidget* control, const QMargins& pixels) {
    for (Placement& placement : m_placements) {
        if (placement.control != control) continue;
        placement.rect = placement.rect.marginsRemoved(pixels);
        control->setGeometry(Arranged(placement));
    }
}

int CPageBase::TemplateOffset() const {
    if (!m_templateSize.isValid()) return 0;
    return std::max(0, (width() - m_templateSize.width()) / 2);
}

QRect CPageBase::Arranged(const Placement& placement) const {
    const auto growing =
        std::find_if(m_placements.begin(), m_placements.end(),
                     [this](const Placement& p) { return m_growing && p.control == m_growing; });
    if (growing == m_placements.end() || !m_templateSize.isValid()) {
        return placement.rect.translated(TemplateOffset(), 0);
    }
    const int extraWidth = std::max(0, width() - m_templateSize.width());
    const int extraHeight = std::max(0, height() - m_templateSize.height());
    if (placement.control == m_growing) {
        return placement.rect.adjusted(0, 0, extraWidth, extraHeight);
    }
    QRect rect = placement.rect;
    if (rect.left() > growing->rect.right()) rect.translate(extraWidth, 0);
    if (rect.top() > growing->rect.bottom()) rect.translate(0, extraHeight);
    return rect;
}

void CPageBase::Arrange() {
    for (const Placement& placement : m_placements) {
        if (placement.control) placement.control->setGeometry(Arranged(placement));
    }
}

void CPageBase::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}

QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLatin1(const QString& text) { return text.toLatin1().toStdString(); }

std::string CLineEditText::GetWindowText() const { return ToLatin1(m_edit.text()); }

void CLineEditText::SetWindowText(const std::string& text) { m_edit.setText(FromLatin1(text)); }

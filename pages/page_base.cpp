#include "pages/page_base.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace {

// The dialog manager measures its base unit over the 52 letters and rounds
// half up; doing the same keeps our proportions close to the drawn layouts.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int MulDiv(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
    m_baseX = (alphabetWidth / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int CDialogUnits::X(int units) const { return MulDiv(units, m_baseX, 4); }

int CDialogUnits::Y(int units) const { return MulDiv(units, m_baseY, 8); }

QRect CDialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize CDialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

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
    control->setGeometry(rect.translated(TemplateOffset(), 0));
}

int CPageBase::TemplateOffset() const {
    if (!m_templateSize.isValid()) return 0;
    return std::max(0, (width() - m_templateSize.width()) / 2);
}

void CPageBase::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int offset = TemplateOffset();
    for (const Placement& placement : m_placements) {
        if (placement.control) placement.control->setGeometry(placement.rect.translated(offset, 0));
    }
}

QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLatin1(const QString& text) { return text.toLatin1().toStdString(); }

std::string CLineEditText::GetWindowText() const { return ToLatin1(m_edit.text()); }

void CLineEditText::SetWindowText(const std::string& text) { m_edit.setText(FromLatin1(text)); }

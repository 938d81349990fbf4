#include "controls/dialog_units.h"

#include <QFontMetrics>
#include <QString>

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
    // Each edge is mapped on its own, so edges that meet in the template meet
    // on screen too instead of drifting apart by a rounded pixel.
    return QRect(QPoint(X(x), Y(y)), QPoint(X(x + width) - 1, Y(y + height) - 1));
}

QSize CDialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

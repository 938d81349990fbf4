#include "report/qt_print_canvas.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPrinter>

namespace {
constexpr qreal kFontPointSize = 10.0;

QColor FromRgb(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
}  // namespace

CQtPrintCanvas::CQtPrintCanvas(std::unique_ptr<QPrinter> printer) : m_printer(std::move(printer)) {
    m_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // A platform without a fixed-pitch entry hands back its general font;
    // the hint keeps the fallback on a fixed-pitch face.
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setFixedPitch(true);
    m_font.setPointSizeF(kFontPointSize);
}

CQtPrintCanvas::~CQtPrintCanvas() {
    if (m_painter.isActive()) m_painter.end();
}

int CQtPrintCanvas::LogPixelsX() const { return m_printer->logicalDpiX(); }
int CQtPrintCanvas::LogPixelsY() const { return m_printer->logicalDpiY(); }
int CQtPrintCanvas::HorzRes() const { return m_printer->width(); }
int CQtPrintCanvas::VertRes() const { return m_printer->height(); }

void CQtPrintCanvas::SelectFixedFont() {
    if (m_painter.isActive()) m_painter.setFont(m_font);
}

int CQtPrintCanvas::FontHeight() const { return QFontMetrics(m_font, m_printer.get()).height(); }

int CQtPrintCanvas::FontInternalLeading() const {
    // The part of the cell above the em square: cell height less the font's
    // size in device pixels.
    const QFontMetrics metrics(m_font, m_printer.get());
    const int em = qRound(m_font.pointSizeF() * m_printer->logicalDpiY() / 72.0);
    return std::max(0, metrics.height() - em);
}

int CQtPrintCanvas::TextWidth(const std::string& text) const {
    return QFontMetrics(m_font, m_printer.get())
        .horizontalAdvance(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void CQtPrintCanvas::StartDoc(const std::string& documentName) {
    m_printer->setDocName(QString::fromLatin1(documentName.c_str()));
}

void CQtPrintCanvas::StartPage() {
    // QPainter opens the first page itself; later pages need newPage().
    if (m_pagesStarted == 0) {
        m_painter.begin(m_printer.get());
        m_painter.setFont(m_font);
    } else if (m_painter.isActive()) {
        m_printer->newPage();
    }
    ++m_pagesStarted;
}

void CQtPrintCanvas::EndPage() {}

void CQtPrintCanvas::EndDoc() {
    if (m_painter.isActive()) m_painter.end();
}

void CQtPrintCanvas::SaveState() { m_saved.push_back(m_state); }

void CQtPrintCanvas::RestoreState() {
    if (m_saved.empty()) return;
    m_state = m_saved.back();
    m_saved.pop_back();
}

void CQtPrintCanvas::SetTextColor(uint32_t rgb) { m_state.textColour = FromRgb(rgb); }

void CQtPrintCanvas::SelectPen(int width, uint32_t rgb) {
    m_state.pen = QPen(FromRgb(rgb), std::max(width, 0), Qt::SolidLine, Qt::FlatCap);
}

void CQtPrintCanvas::TextOut(int x, int y, const std::string& text) {
    if (!m_painter.isActive()) return;
    m_painter.setPen(m_state.textColour);
    const QFontMetrics metrics(m_font, m_printer.get());
    m_painter.drawText(x, y + metrics.ascent(),
                       QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void CQtPrintCanvas::Line(int x1, int y1, int x2, int y2) {
    if (!m_painter.isActive()) return;
    m_painter.setPen(m_state.pen);
    m_painter.drawLine(x1, y1, x2, y2);
}

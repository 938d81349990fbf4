#include "tasks/report_layout.h"

#include "seams/print_canvas.h"

CPrinter::CPrinter(CPrintCanvas& canvas) : m_canvas(canvas) {}

CPrinter::~CPrinter() {
    // A job left open would never reach the printer.
    if (m_documentStarted) EndPrinting();
}

void CPrinter::SelectPrintFont() { m_canvas.SelectFixedFont(); }

bool CPrinter::StartPrinting() {
    SelectPrintFont();
    m_canvas.StartDoc(kApplicationName);
    m_documentStarted = true;
    m_lineHeight = m_canvas.FontHeight() + m_canvas.FontInternalLeading();
    m_topMargin = m_canvas.LogPixelsY() / 2;
    m_leftMargin = m_canvas.LogPixelsX() / 2;
    m_pageHeight = m_canvas.VertRes();
    m_pageWidth = m_canvas.HorzRes();
    m_linePosition = m_topMargin;
    return true;
}

void CPrinter::PrintLine(const std::string& text) {
    // The bottom margin equals the top one; the test comes before the line,
    // so a line may start exactly on the margin.
    if (!m_pageStarted || m_linePosition > m_pageHeight - m_topMargin) {
        if (m_pageStarted) m_canvas.EndPage();
        m_canvas.StartPage();
        ++m_pageNumber;
        m_linePosition = m_topMargin;
        m_pageStarted = true;
        PrintPageHeader();
    }
    m_canvas.TextOut(m_leftMargin, m_linePosition, text);
    m_linePosition += m_lineHeight;
}

void CPrinter::EndPrinting() {
    m_canvas.EndPage();
    m_canvas.EndDoc();
    m_documentStarted = false;
}

void CPrinter::PrintPageHeader() {
    const int textPosition = m_topMargin - (3 * m_lineHeight) / 2;
    const int rulePosition = m_topMargin - m_lineHeight / 2;
    m_canvas.SaveState();
    m_canvas.SetTextColor(0x000000);
    m_canvas.SelectPen(m_canvas.LogPixelsX() / 100, kRuleColour);
    m_canvas.TextOut(m_leftMargin, textPosition, kApplicationName);
    const std::string number = std::to_string(m_pageNumber);
    m_canvas.TextOut(m_pageWidth - m_leftMargin - m_canvas.TextWidth(number), textPosition, number);
    m_canvas.Line(m_leftMargin, rulePosition, m_pageWidth - m_leftMargin, rulePosition);
    m_canvas.RestoreState();
}

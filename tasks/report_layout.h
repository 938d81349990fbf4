#pragma once

#include <string>

class CPrintCanvas;

// Prints a report (text lines) as one job: fixed-pitch text, half-inch
// margins, and on every page a header with the application's name, the page
// number and a red rule. Knows nothing of the card printer.
class CPrinter {
public:
    // The canvas is not owned; it must outlive the job.
    explicit CPrinter(CPrintCanvas& canvas);
    virtual ~CPrinter();

    CPrinter(const CPrinter&) = delete;
    CPrinter& operator=(const CPrinter&) = delete;

    bool StartPrinting();
    void PrintLine(const std::string& text);
    void EndPrinting();

    int PageNumber() const { return m_pageNumber; }
    int LineHeight() const { return m_lineHeight; }
    int TopMargin() const { return m_topMargin; }

    static constexpr const char* kApplicationName = "Tessaly";
    static constexpr uint32_t kRuleColour = 0xFF0000;  // red, as 0xRRGGBB

protected:
    virtual void PrintPageHeader();
    virtual void SelectPrintFont();

private:
    CPrintCanvas& m_canvas;
    int m_topMargin = 0;
    int m_leftMargin = 0;
    int m_pageHeight = 0;
    int m_pageWidth = 0;
    int m_linePosition = 0;
    int m_lineHeight = 0;
    bool m_pageStarted = false;
    bool m_documentStarted = false;
    int m_pageNumber = 0;
};

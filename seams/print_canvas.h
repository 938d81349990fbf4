#pragma once

#include <cstdint>
#include <string>

// The drawing surface of a print job, in printer pixels. The real one draws
// with QPainter on the QPrinter the print dialog configured; tests record the
// calls to check page breaks and header positions.
class CPrintCanvas {
public:
    virtual ~CPrintCanvas() = default;

    virtual int LogPixelsX() const = 0;  // horizontal pixels per inch
    virtual int LogPixelsY() const = 0;  // vertical pixels per inch
    virtual int HorzRes() const = 0;     // printable width in pixels
    virtual int VertRes() const = 0;     // printable height in pixels

    virtual void SelectFixedFont() = 0;
    virtual int FontHeight() const = 0;  // cell height of the selected font
    virtual int FontInternalLeading() const = 0;
    virtual int TextWidth(const std::string& text) const = 0;

    virtual void StartDoc(const std::string& documentName) = 0;
    virtual void StartPage() = 0;
    virtual void EndPage() = 0;
    virtual void EndDoc() = 0;

    virtual void SaveState() = 0;
    virtual void RestoreState() = 0;
    virtual void SetTextColor(uint32_t rgb) = 0;
    virtual void SelectPen(int width, uint32_t rgb) = 0;
    // Text cell top-left at (x, y).
    virtual void TextOut(int x, int y, const std::string& text) = 0;
    virtual void Line(int x1, int y1, int x2, int y2) = 0;
};

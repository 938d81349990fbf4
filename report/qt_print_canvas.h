#pragma once

#include <QFont>
#include <QPainter>
#include <QPen>
#include <memory>
#include <vector>

#include "seams/print_canvas.h"

class QPrinter;
class QPaintDevice;

// The print canvas on a real paint device: the QPrinter that the print
// dialog configured (or a PDF printer in tests). Coordinates are device
// pixels from the top-left of the printable area.
class CQtPrintCanvas : public CPrintCanvas {
public:
    // Takes ownership of the printer so the job outlives the dialog.
    explicit CQtPrintCanvas(std::unique_ptr<QPrinter> printer);
    ~CQtPrintCanvas() override;

    int LogPixelsX() const override;
    int LogPixelsY() const override;
    int HorzRes() const override;
    int VertRes() const override;

    void SelectFixedFont() override;
    int FontHeight() const override;
    int FontInternalLeading() const override;
    int TextWidth(const std::string& text) const override;

    void StartDoc(const std::string& documentName) override;
    void StartPage() override;
    void EndPage() override;
    void EndDoc() override;

    void SaveState() override;
    void RestoreState() override;
    void SetTextColor(uint32_t rgb) override;
    void SelectPen(int width, uint32_t rgb) override;
    void TextOut(int x, int y, const std::string& text) override;
    void Line(int x1, int y1, int x2, int y2) override;

private:
    struct State {
        QColor textColour;
        QPen pen;
    };
    std::unique_ptr<QPrinter> m_printer;
    QPainter m_painter;
    QFont m_font;
    State m_state{Qt::black, QPen(Qt::black)};
    std::vector<State> m_saved;
    int m_pagesStarted = 0;
};

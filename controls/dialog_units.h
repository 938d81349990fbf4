#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Maps dialog-template coordinates to pixels for a font: a horizontal unit
// is a quarter of the font's average letter width, a vertical one an eighth
// of its height. The page layouts are given in these units so that they keep
// their proportions, and their labels still fit, under any system font.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int m_baseX;  // average letter width in pixels
    int m_baseY;  // font height in pixels
};

#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Converts dialog-template units to pixels for a font, the way dialog templates scale: a
// horizontal unit is a quarter of the average letter width, a vertical unit an eighth of the
// line height. Layouts written in these units keep their proportions at any font size.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int du) const { return (du * m_baseX + 2) / 4; }
    int Y(int du) const { return (du * m_baseY + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};

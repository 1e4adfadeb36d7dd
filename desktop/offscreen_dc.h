#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>

// Draws one rectangle of a target off screen and hands the finished picture to the target in a
// single drawPixmap when it goes out of scope, so the target never shows a half-drawn state.
// Callers draw in the target's coordinates; anything outside the rectangle is cut off, and
// whatever they leave undrawn keeps the target's old pixels.
class COffscreenDC {
public:
    // target must be active and outlive this object.
    COffscreenDC(QPainter* target, const QRect& rect);
    ~COffscreenDC();

    COffscreenDC(const COffscreenDC&) = delete;
    COffscreenDC& operator=(const COffscreenDC&) = delete;

    QPainter& Painter() { return m_painter; }
    QPainter* operator->() { return &m_painter; }
    const QRect& Rect() const { return m_rect; }

private:
    QPainter* m_target;
    QRect m_rect;
    QPixmap m_pixmap;
    QPainter m_painter;
};

#include "offscreen_dc.h"

#include <QPaintDevice>

COffscreenDC::COffscreenDC(QPainter* target, const QRect& rect) : m_target(target), m_rect(rect)
{
    if (m_rect.isEmpty())
        return;  // nothing to deliver; a painter on a null pixmap would only complain
    // Match the target's pixel density so the copy is one-to-one on high-DPI screens.
    const qreal dpr = m_target->device() ? m_target->device()->devicePixelRatio() : 1.0;
    m_pixmap = QPixmap(m_rect.size() * dpr);
    m_pixmap.setDevicePixelRatio(dpr);
    m_pixmap.fill(Qt::transparent);
    m_painter.begin(&m_pixmap);
    m_painter.translate(-m_rect.topLeft());
}

COffscreenDC::~COffscreenDC()
{
    if (!m_painter.isActive())
        return;
    m_painter.end();
    m_target->drawPixmap(m_rect.topLeft(), m_pixmap);
}

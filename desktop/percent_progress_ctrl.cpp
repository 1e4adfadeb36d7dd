#include "percent_progress_ctrl.h"

#include "offscreen_dc.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Positions are never clamped to the range, so products can land far outside int; converting
// such a double (or a NaN) to int would be undefined.
int TruncToInt(double x)
{
    if (std::isnan(x))
        return 0;
    return static_cast<int>(std::clamp(x, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

// The 32-bit subtraction could overflow, so work in double.
double Fraction(int pos, int lower, int upper)
{
    return (static_cast<double>(pos) - lower) / (static_cast<double>(upper) - lower);
}

// Wraps like the 32-bit register arithmetic the bar has always done, without signed overflow.
int WrappingAdd(int a, int b)
{
    return static_cast<int>(static_cast<std::int64_t>(a) + b);
}

}  // namespace

CPercentProgressCtrl::CPercentProgressCtrl(QWidget* parent) : QWidget(parent)
{
    // Every paint covers the whole bar; letting Qt erase first would bring the flicker back.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPercentProgressCtrl::SetRange(std::uint32_t lParam)
{
    SetRange32(static_cast<int>(lParam & 0xFFFFu), static_cast<int>(lParam >> 16));
}

void CPercentProgressCtrl::SetRange32(int lower, int upper)
{
    // No repaint here: the next position change that moves the edge shows the new range.
    m_lower = lower;
    m_upper = upper;
}

int CPercentProgressCtrl::SetPos(int pos)
{
    const int old = m_pos;
    m_pos = pos;
    // An empty range has no finite fraction; nothing is drawn for it anyway.
    const int w = m_upper == m_lower ? 0 : TruncToInt(Fraction(m_pos, m_lower, m_upper) * width());
    if (w != m_filledWidth) {
        m_filledWidth = w;
        repaint();  // now, not at the next turn of the event loop: the caller may be busy a while
    }
    return old;
}

int CPercentProgressCtrl::DeltaPos(int delta)
{
    return SetPos(WrappingAdd(m_pos, delta));
}

int CPercentProgressCtrl::SetStep(int step)
{
    const int old = m_step;
    m_step = step;
    return old;
}

int CPercentProgressCtrl::StepIt()
{
    return SetPos(WrappingAdd(m_pos, m_step));
}

int CPercentProgressCtrl::GetRange(bool low, PBRANGE* range) const
{
    if (range) {
        range->iLow = m_lower;
        range->iHigh = m_upper;
    }
    return low ? m_lower : m_upper;
}

COLORREF CPercentProgressCtrl::SetBarColor(COLORREF color)
{
    const COLORREF old = m_barColor;
    m_barColor = color;
    update();
    return old;
}

COLORREF CPercentProgressCtrl::SetBkColor(COLORREF color)
{
    const COLORREF old = m_bkColor;
    m_bkColor = color;
    update();
    return old;
}

COLORREF CPercentProgressCtrl::SetTextColor(COLORREF color)
{
    const COLORREF old = m_textColor;
    m_textColor = color;
    update();
    return old;
}

void CPercentProgressCtrl::SetShowText(bool show)
{
    const bool changed = show != m_showText;
    m_showText = show;
    if (changed)
        update();
}

bool CPercentProgressCtrl::SetWindowText(const char* text)
{
    const char* newText = text ? text : "";
    setWindowTitle(QString::fromUtf8(newText));
    if (m_text != newText) {
        m_text = newText;
        update();
    }
    return true;
}

int CPercentProgressCtrl::GetWindowText(char* buffer, int size) const
{
    if (!buffer || size <= 0)
        return 0;
    const int count = static_cast<int>(std::min<std::size_t>(m_text.size(), static_cast<std::size_t>(size) - 1));
    std::memcpy(buffer, m_text.data(), static_cast<std::size_t>(count));
    buffer[count] = '\0';
    return count;
}

std::string CPercentProgressCtrl::DisplayText() const
{
    if (!m_text.empty())
        return m_text;
    if (m_lower == m_upper)
        return "0%";  // no meaningful fraction, and nothing is drawn for an empty range
    char percent[16];
    std::snprintf(percent, sizeof percent, "%d%%", TruncToInt(Fraction(m_pos, m_lower, m_upper) * 100.0));
    return percent;
}

void CPercentProgressCtrl::SetVertical(bool vertical)
{
    m_vertical = vertical;
    update();
}

QColor CPercentProgressCtrl::Resolve(COLORREF color, QPalette::ColorRole fallback) const
{
    // Resolved at every paint, so a palette change shows at the next one.
    if (color == CLR_DEFAULT)
        return palette().color(QPalette::Active, fallback);
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

void CPercentProgressCtrl::paintEvent(QPaintEvent* event)
{
    if (m_lower >= m_upper)
        return;

    const QColor bar = Resolve(m_barColor, QPalette::Highlight);
    const QColor back = Resolve(m_bkColor, QPalette::Base);
    const QRect client = rect();
    const double f = Fraction(m_pos, m_lower, m_upper);

    QPainter target(this);
    COffscreenDC dc(&target, event->rect());
    QPainter& p = dc.Painter();
    p.setFont(font());

    QRect filled;
    QRect empty;
    if (m_vertical) {
        const int h = std::clamp(TruncToInt(client.height() * f), 0, client.height());
        filled = QRect(client.left(), client.top() + client.height() - h, client.width(), h);
        empty = QRect(client.left(), client.top(), client.width(), client.height() - h);
    } else {
        const int w = std::clamp(TruncToInt(client.width() * f), 0, client.width());
        filled = QRect(client.left(), client.top(), w, client.height());
        empty = QRect(client.left() + w, client.top(), client.width() - w, client.height());
    }
    p.fillRect(filled, bar);
    p.fillRect(empty, back);

    if (!m_showText || m_vertical)
        return;

    const QString text = QString::fromUtf8(DisplayText());
    const QColor overBar = m_textColor == CLR_DEFAULT ? back : Resolve(m_textColor, QPalette::Text);
    const QColor overBack = m_textColor == CLR_DEFAULT ? bar : Resolve(m_textColor, QPalette::Text);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    // The text is laid out over the whole bar each time; the clip decides which part shows.
    if (!filled.isEmpty()) {
        p.setClipRect(filled);
        p.setPen(overBar);
        p.drawText(client, flags, text);
    }
    if (!empty.isEmpty()) {
        p.setClipRect(empty);
        p.setPen(overBack);
        p.drawText(client, flags, text);
    }
    p.setClipping(false);
}

void CPercentProgressCtrl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_filledWidth = -1;  // the next SetPos must repaint at the new size
}

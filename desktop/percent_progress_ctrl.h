#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

#include <cstdint>
#include <string>

// Colours are 0x00BBGGRR values; CLR_DEFAULT means "follow the palette".
using COLORREF = std::uint32_t;
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000u;

struct PBRANGE {
    int iLow;
    int iHigh;
};

// A progress bar that paints itself: the filled part in the bar colour, the rest in the
// background colour and, optionally, one centred line of text (its own text, or the percentage
// done). The text is drawn once per part, clipped to it, so by default it reads in the
// background colour over the bar and in the bar colour over the background.
//
// The methods mirror the classic progress-bar messages, arguments and results included, so the
// window drives both bars the way the loader expects. A QWidget always has a window to paint, so
// SetPos never takes its "no window" exit; it stores and repaints as soon as the bar is visible
// (repaint() does nothing for a hidden widget, which is painted in full when it is shown).
class CPercentProgressCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CPercentProgressCtrl(QWidget* parent = nullptr);

    // Low word = lower limit, high word = upper limit, each unsigned 16-bit. No repaint.
    void SetRange(std::uint32_t lParam);
    // Signed 32-bit limits. No repaint.
    void SetRange32(int lower, int upper);
    // Stores the position (never clamped) and repaints at once if the filled part's edge moved
    // by a whole pixel since the last repaint this caused. Returns the previous position.
    int SetPos(int pos);
    int DeltaPos(int delta);
    int SetStep(int step);  // returns the previous step
    int StepIt();           // no wrap-around at the upper limit
    // low picks the lower limit, otherwise the upper; range, if given, receives both.
    int GetRange(bool low, PBRANGE* range = nullptr) const;
    int GetPos() const { return m_pos; }

    // Each returns the previous colour and schedules a repaint, even when unchanged.
    COLORREF SetBarColor(COLORREF color);
    COLORREF SetBkColor(COLORREF color);
    COLORREF SetTextColor(COLORREF color);
    COLORREF GetBarColor() const { return m_barColor; }
    COLORREF GetBkColor() const { return m_bkColor; }
    COLORREF GetTextColor() const { return m_textColor; }

    void SetShowText(bool show);
    bool GetShowText() const { return m_showText; }

    // Text shown instead of the percentage when not empty; nullptr counts as empty.
    bool SetWindowText(const char* text);
    // Copies at most size - 1 characters and a terminating zero; returns the count copied.
    int GetWindowText(char* buffer, int size) const;
    const std::string& WindowText() const { return m_text; }

    // The text a paint would draw now (when text is shown at all).
    std::string DisplayText() const;

    // A vertical bar grows from the bottom and never shows text.
    void SetVertical(bool vertical);
    bool IsVertical() const { return m_vertical; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor Resolve(COLORREF color, QPalette::ColorRole fallback) const;

    COLORREF m_textColor = CLR_DEFAULT;
    int m_pos = 0;
    int m_step = 1;
    int m_upper = 100;
    int m_lower = 0;
    std::string m_text;
    bool m_showText = true;
    int m_filledWidth = -1;  // as of the last repaint SetPos caused; -1: not yet computed
    COLORREF m_barColor = CLR_DEFAULT;
    COLORREF m_bkColor = CLR_DEFAULT;
    bool m_vertical = false;
};

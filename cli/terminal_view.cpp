#include "terminal_view.h"

#include <cstdio>

CTerminalView::CTerminalView(bool quiet, bool interactive) : m_quiet(quiet), m_interactive(interactive) {}

void CTerminalView::ClearBar() {
    if (!m_barShown) return;
    std::fputs("\r\033[K", stdout);
    m_barShown = false;
}

void CTerminalView::DrawBar() {
    if (m_quiet || !m_interactive || !m_barActive) return;
    int span = m_upper - m_lower;
    int percent = span > 0 ? (m_position - m_lower) * 100 / span : 0;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int width = 40;
    int filled = percent * width / 100;
    std::printf("\r\033[K[%.*s%*s] %3d%%  %s", filled, "########################################",
                width - filled, "", percent, m_timeText.c_str());
    std::fflush(stdout);
    m_barShown = true;
}

void CTerminalView::Status(const std::string& text) {
    if (m_quiet) return;
    ClearBar();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    DrawBar();
}

void CTerminalView::Range(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
    m_barActive = true;
    DrawBar();
}

void CTerminalView::Position(int position) {
    m_position = position;
    DrawBar();
}

void CTerminalView::TimeRemaining(const std::string& text) {
    m_timeText = text;
    DrawBar();
}

void CTerminalView::Finish() {
    // The last status line says how it ended; a stale bar under it would not.
    ClearBar();
    m_barActive = false;
    std::fflush(stdout);
}

void CTerminalView::Error(const std::string& text) {
    ClearBar();
    std::fflush(stdout);
    std::fprintf(stderr, "orbix-flash: %s\n", text.c_str());
    DrawBar();
}

#pragma once
#include <string>

// What the engine shows, on a terminal: one line per status text and, when
// stdout is a terminal, a progress bar with the percentage and the time
// remaining redrawn under them. On a pipe, plain lines only.
class CTerminalView {
public:
    CTerminalView(bool quiet, bool interactive);

    void Status(const std::string& text);
    void Range(int lower, int upper);
    void Position(int position);
    void TimeRemaining(const std::string& text);
    // Takes the bar away once the operation has ended.
    void Finish();
    // An error: always shown, on stderr.
    void Error(const std::string& text);

private:
    void DrawBar();
    void ClearBar();

    bool m_quiet;
    bool m_interactive;
    bool m_barShown = false;
    bool m_barActive = false;
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    std::string m_timeText = "---";
};

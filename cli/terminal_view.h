#pragma once
#include <chrono>
#include <cstdio>
#include <string>

// What the engine shows, on a terminal: one line per status text and, when
// stdout is a terminal that takes escape sequences, a progress bar with the
// percentage and the time remaining redrawn under them; any line printed
// takes the bar away first and puts it back after. Elsewhere (a pipe, a file,
// TERM=dumb) plain lines only: the data phase adds one at every 10%.
class CTerminalView {
public:
    CTerminalView(bool quiet, bool drawBar);

    void Status(const std::string& text);
    void Range(int lower, int upper);
    void Position(int position);
    void TimeRemaining(const std::string& text);
    // The data phase begins: positions from here on are percentages sent.
    void BeginDataPhase();
    // Takes the bar away once the operation has ended.
    void Finish();
    // An error: always shown, on stderr.
    void Error(const std::string& text);
    // A line of --trace output, on stderr.
    void Trace(const std::string& line);

private:
    void DrawBar();
    void ClearBar();
    void Print(std::FILE* stream, const std::string& line);
    void ReportPercentSent();

    bool m_quiet;
    bool m_drawBar;
    bool m_barShown = false;
    bool m_barActive = false;
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    std::string m_timeText = "---";
    bool m_dataPhase = false;
    int m_percentReported = 0;
    std::chrono::steady_clock::time_point m_dataStart;
};

// Whether the bar may be drawn on `fd`: a terminal, and TERM names one that
// understands escape sequences (not unset, empty or "dumb").
bool TakesEscapeSequences(int fd);

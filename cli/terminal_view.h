#pragma once
#include <cstdio>
#include <string>

#include "console_output.h"
#include "session/session_sink.h"

// The note for a port without low-latency mode, as stderr says it.
std::string LowLatencyNote(const std::string& device);

// How much of the bar's range is done, 0 to 100 (the terminal's bar and the
// gang lines; the window's bar keeps its own control's arithmetic).
int BarPercent(int lower, int upper, int position);

// What the engine shows, on a terminal: one line per status text and, when
// stdout is a terminal that takes escape sequences, a progress bar with the
// percentage and the time remaining redrawn under them; any line printed
// takes the bar away first and puts it back after. Elsewhere (a pipe, a file,
// TERM=dumb) plain lines only: the data phase adds one at every 10%, with the
// time remaining. With a
// prefix (many keypads on a pipe), every line it prints names its port.
class CTerminalView : public ISessionSink {
public:
    CTerminalView(bool quiet, bool drawBar, const std::string& prefix = "");

    void Status(const std::string& text) override;
    void Range(int lower, int upper) override;
    void Position(int position) override;
    void TimeRemaining(const std::string& text) override;
    void BeginDataPhase() override;
    // Takes the bar away once the operation has ended.
    void Finish() override;
    // Always shown, on stderr, even when quiet.
    void Error(const std::string& text) override;
    void Trace(const std::string& line) override;
    void NoLowLatency(const std::string& device) override { Trace(LowLatencyNote(device)); }

private:
    void DrawBar();
    void ClearBar();
    void Print(std::FILE* stream, const std::string& line, OutputKind kind = OUTPUT_KEPT);
    void ReportPercentSent();

    bool m_quiet;
    bool m_drawBar;
    std::string m_prefix;
    bool m_barShown = false;
    bool m_barActive = false;
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    std::string m_timeText = "---";
    bool m_dataPhase = false;
    int m_percentReported = 0;
};

// Whether the bar may be drawn on `fd`: a terminal, and TERM names one that
// understands escape sequences (not unset, empty or "dumb").
bool TakesEscapeSequences(int fd);

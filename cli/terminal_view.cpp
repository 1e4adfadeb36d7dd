#include "terminal_view.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "console_output.h"

CTerminalView::CTerminalView(bool quiet, bool drawBar, const std::string& prefix)
    : m_quiet(quiet), m_drawBar(drawBar), m_prefix(prefix) {}

void CTerminalView::ClearBar() {
    if (!m_barShown) return;
    Output(stdout, "\r\033[K");
    m_barShown = false;
}

std::string LowLatencyNote(const std::string& device) {
    return "orbix-flash: note: " + device + " does not offer low-latency mode; transfers may be slower";
}

int BarPercent(int lower, int upper, int position) {
    int span = upper - lower;
    int percent = span > 0 ? (position - lower) * 100 / span : 0;
    return percent < 0 ? 0 : percent > 100 ? 100 : percent;
}

void CTerminalView::DrawBar() {
    // A terminal that is behind gets the bar as it is when it has caught up.
    if (m_quiet || !m_drawBar || !m_barActive || OutputBehind()) return;
    int percent = BarPercent(m_lower, m_upper, m_position);
    const int width = 40;
    int filled = percent * width / 100;
    char bar[160];
    std::snprintf(bar, sizeof bar, "\r\033[K[%.*s%*s] %3d%%  ", filled, "########################################",
                  width - filled, "", percent);
    Output(stdout, bar + Printable(m_timeText));
    m_barShown = true;
}

void CTerminalView::Print(std::FILE* stream, const std::string& line, OutputKind kind) {
    ClearBar();
    OutputLine(stream, line, kind);
    DrawBar();
}

void CTerminalView::Status(const std::string& text) {
    if (!m_quiet) Print(stdout, m_prefix + text);
}

void CTerminalView::Error(const std::string& text) { Print(stderr, "orbix-flash: " + m_prefix + text); }

void CTerminalView::Trace(const std::string& line) { Print(stderr, m_prefix + line, OUTPUT_TRACE); }

void CTerminalView::Range(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
    m_barActive = true;
    DrawBar();
}

void CTerminalView::Position(int position) {
    m_position = position;
    if (m_dataPhase && !m_drawBar) ReportPercentSent();
    DrawBar();
}

void CTerminalView::TimeRemaining(const std::string& text) {
    m_timeText = text;
    DrawBar();
}

void CTerminalView::BeginDataPhase() {
    m_dataPhase = true;
    m_percentReported = 0;
    m_timeText = "---";
}

// Without the bar: "Sent 40%, 12 seconds remaining" each time another tenth
// has gone.
void CTerminalView::ReportPercentSent() {
    int tenth = m_position / 10 * 10;
    if (tenth <= m_percentReported || m_quiet) return;
    m_percentReported = tenth;
    char line[96];
    if (tenth >= 100 || m_timeText == "---") std::snprintf(line, sizeof line, "Sent %d%%", tenth);
    else std::snprintf(line, sizeof line, "Sent %d%%, %s", tenth, m_timeText.c_str());
    Print(stdout, m_prefix + line);
}

void CTerminalView::Finish() {
    // The last status line says how it ended; a stale bar under it would not.
    ClearBar();
    m_barActive = false;
    m_dataPhase = false;
}

bool TakesEscapeSequences(int fd) {
    const char* term = std::getenv("TERM");
    return isatty(fd) && term && *term && std::strcmp(term, "dumb") != 0;
}

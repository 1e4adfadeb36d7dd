#include "gang_view.h"

#include "console_output.h"
#include "terminal_view.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>

class CGangView::CLine : public ISessionSink {
public:
    CLine(CGangView& view, const std::string& port) : m_view(view), m_port(port) {}

    void Clear() {
        m_status.clear();
        m_time = "---";
        m_lower = m_position = 0;
        m_upper = 100;
        m_barShown = false;
    }

    void Status(const std::string& text) override {
        m_status = text;
        m_view.MarkDirty();
    }
    // In the time column, which has nothing to show between updates.
    void Waiting(const std::string& text) override { TimeRemaining(text.empty() ? "---" : text); }
    void Range(int lower, int upper) override {
        m_lower = lower;
        m_upper = upper;
        m_barShown = true;
        m_view.MarkDirty();
    }
    void Position(int position) override {
        m_position = position;
        m_view.MarkDirty();
    }
    void TimeRemaining(const std::string& text) override {
        m_time = text;
        m_view.MarkDirty();
    }
    void BeginDataPhase() override {}
    void Finish() override {
        m_time = "---";
        m_view.MarkDirty();
    }
    void Error(const std::string& text) override { m_view.PrintAbove(stderr, "orbix-flash: " + m_port + ": " + text); }
    void Trace(const std::string& line) override { m_view.PrintAbove(stderr, m_port + " " + line, OUTPUT_TRACE); }
    void NoLowLatency(const std::string& device) override { Trace(LowLatencyNote(device)); }

    std::string Text(int width) const {
        char head[160];
        int percent = BarPercent(m_lower, m_upper, m_position);
        const int barWidth = 20;
        int filled = m_barShown ? percent * barWidth / 100 : 0;
        // A long name keeps its end, where names of one kind differ.
        std::string port = Printable(m_port);
        if (Columns(port) > 18) port = "..." + LastColumns(port, 15);
        port.append(18 - Columns(port), ' ');
        std::snprintf(head, sizeof head, " %3d%% [%.*s%*s] %-22.22s ", percent, filled, "####################",
                      barWidth - filled, "", m_time.c_str());
        return FirstColumns(port + head + Printable(m_status), static_cast<size_t>(width - 1));
    }

private:
    CGangView& m_view;
    std::string m_port;
    std::string m_status;
    std::string m_time = "---";
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    bool m_barShown = false;
};

namespace {
// The console's columns and rows, 0 where they cannot be had.
std::pair<int, int> ConsoleSize() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {0, 0};
    return {info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
#else
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return {0, 0};
    return {size.ws_col, size.ws_row};
#endif
}
}  // namespace

CGangView::CGangView(const std::vector<std::string>& labels) {
    for (const std::string& label : labels) m_lines.push_back(std::make_unique<CLine>(*this, label));
    // A few redraws a second, whatever the number of keypads: their progress
    // changes far more often than anyone can read it.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_dirty) Draw();
    });
    m_timer.start(200);
}

CGangView::~CGangView() = default;

void CGangView::Start(size_t index) {
    std::erase(m_running, index);
    m_running.push_back(index);
    m_lines[index]->Clear();
    MarkDirty();
}

void CGangView::End(size_t index) {
    std::erase(m_running, index);
    MarkDirty();
}

void CGangView::SetTotals(const std::string& text) {
    m_totals = text;
    MarkDirty();
}

// The terminal may have been resized since the last draw (SIGWINCH): its size is read each time.
void CGangView::ReadSize() {
    auto [columns, rows] = ConsoleSize();
    if (columns > 40) m_width = columns;
    if (rows > 4) m_height = rows;
}

// Up over the block as it was last drawn, and down again clearing what is below.
// A terminal narrowed since then has wrapped each of its lines onto more rows.
std::string CGangView::EraseBlock() const {
    size_t rows = 0;
    for (size_t columns : m_drawnColumns) rows += std::max<size_t>(1, (columns + m_width - 1) / m_width);
    return (rows > 0 ? "\033[" + std::to_string(rows) + "A" : "") + "\r\033[J";
}

void CGangView::Draw() {
    // A terminal that is behind is drawn for when it has caught up.
    if (OutputBehind()) return;
    ReadSize();
    std::vector<std::string> lines;
    // A block taller than the terminal could not be redrawn in place.
    size_t shown = std::min(m_running.size(), static_cast<size_t>(m_height - 3));
    for (size_t i = 0; i < shown; ++i) lines.push_back(m_lines[m_running[i]]->Text(m_width));
    if (shown < m_running.size()) lines.push_back("... and " + std::to_string(m_running.size() - shown) + " more running");
    if (!m_totals.empty()) lines.push_back(m_totals);
    std::string out = m_drawn ? EraseBlock() : "\r\033[J";
    m_drawnColumns.clear();
    for (const std::string& line : lines) {
        out += line + "\n";
        m_drawnColumns.push_back(Columns(line));
    }
    Output(stdout, out);
    m_drawn = true;
    m_dirty = false;
}

void CGangView::PrintAbove(std::FILE* stream, const std::string& text, OutputKind kind) {
    if (m_drawn) {
        ReadSize();
        Output(stdout, EraseBlock());
        m_drawn = false;
    }
    OutputLine(stream, text, kind);
    m_dirty = true;
    Draw();
}

void CGangView::Finish() {
    m_timer.stop();
    Draw();
}

ISessionSink& CGangView::Line(size_t index) { return *m_lines[index]; }

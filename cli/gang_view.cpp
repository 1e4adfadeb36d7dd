#include "gang_view.h"

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
    void Trace(const std::string& line) override { m_view.PrintAbove(stderr, m_port + " " + line); }
    void NoLowLatency(const std::string& device) override { Trace(LowLatencyNote(device)); }

    std::string Text(int width) const {
        char head[160];
        int percent = BarPercent(m_lower, m_upper, m_position);
        const int barWidth = 20;
        int filled = m_barShown ? percent * barWidth / 100 : 0;
        // A long name keeps its end, where names of one kind differ.
        std::string port = m_port.size() > 18 ? "..." + m_port.substr(m_port.size() - 15) : m_port;
        std::snprintf(head, sizeof head, "%-18s %3d%% [%.*s%*s] %-22.22s ", port.c_str(), percent, filled,
                      "####################", barWidth - filled, "", m_time.c_str());
        std::string line = head + m_status;
        if (static_cast<int>(line.size()) > width - 1) line.resize(static_cast<size_t>(width - 1));
        return line;
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
int ConsoleColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
#endif
}
}  // namespace

CGangView::CGangView(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) m_lines.push_back(std::make_unique<CLine>(*this, port));
    if (int columns = ConsoleColumns(); columns > 40) m_width = columns;
    // A few redraws a second, whatever the number of keypads: their progress
    // changes far more often than anyone can read it.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_dirty) Draw();
    });
    m_timer.start(200);
}

CGangView::~CGangView() = default;

void CGangView::Draw() {
    std::string out;
    if (m_drawn) out += "\033[" + std::to_string(m_lines.size()) + "A";
    for (const auto& line : m_lines) out += "\r\033[K" + line->Text(m_width) + "\n";
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    m_drawn = true;
    m_dirty = false;
}

void CGangView::PrintAbove(std::FILE* stream, const std::string& text) {
    if (m_drawn) {
        std::fprintf(stdout, "\033[%zuA\r\033[J", m_lines.size());
        std::fflush(stdout);
        m_drawn = false;
    }
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
    Draw();
}

void CGangView::Finish() {
    m_timer.stop();
    Draw();
}

ISessionSink& CGangView::Line(size_t index) { return *m_lines[index]; }

#pragma once
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console_output.h"
#include "session/session_sink.h"

// Many keypads on a terminal: one line each for those running (port or unit
// name, percentage, bar, time remaining, status text) in the order they
// started, and under them a line of totals, redrawn in place a few times a
// second. Errors, trace lines and finished keypads' rows are printed above
// the block, which is then drawn again.
class CGangView : public QObject {
public:
    explicit CGangView(const std::vector<std::string>& labels);
    ~CGangView() override;

    ISessionSink& Line(size_t index);
    // A keypad's attempt starts: its line, cleared, joins the block.
    void Start(size_t index);
    // It has ended: its line leaves the block.
    void End(size_t index);
    // The line under the block ("" for none).
    void SetTotals(const std::string& text);
    // Draws the last state once more and stops redrawing.
    void Finish();
    // A line above the block (errors, a station's summary rows).
    void PrintAbove(std::FILE* stream, const std::string& text, OutputKind kind = OUTPUT_KEPT);

private:
    class CLine;
    void MarkDirty() { m_dirty = true; }
    void Draw();
    void ReadSize();
    std::string EraseBlock() const;

    std::vector<std::unique_ptr<CLine>> m_lines;
    std::vector<size_t> m_running;  // indexes of the lines shown, in the order they started
    std::string m_totals;
    std::vector<size_t> m_drawnColumns;  // of each line of the block as last drawn
    QTimer m_timer;
    bool m_dirty = true;
    bool m_drawn = false;
    int m_width = 100;
    int m_height = 40;
};

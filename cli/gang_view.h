#pragma once
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "session/session_sink.h"

// Many keypads on a terminal: one line each (port, percentage, bar, time
// remaining, status text), redrawn in place a few times a second. Errors and
// trace lines are printed above the block, which is then drawn again.
class CGangView : public QObject {
public:
    explicit CGangView(const std::vector<std::string>& ports);
    ~CGangView() override;

    ISessionSink& Line(size_t index);
    // Draws the last state once more and stops redrawing.
    void Finish();
    // A line above the block (errors, a station's summary rows).
    void PrintAbove(std::FILE* stream, const std::string& text);

private:
    class CLine;
    void MarkDirty() { m_dirty = true; }
    void Draw();

    std::vector<std::unique_ptr<CLine>> m_lines;
    QTimer m_timer;
    bool m_dirty = true;
    bool m_drawn = false;
    int m_width = 100;
};

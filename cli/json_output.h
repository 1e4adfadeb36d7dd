#pragma once
#include <QElapsedTimer>
#include <QJsonObject>
#include <string>

#include "session/result_record.h"
#include "session/fleet_tally.h"
#include "session/session_sink.h"

// --json: JSON Lines on stdout, one object per line, written whole.
class CJsonOutput {
public:
    CJsonOutput() { m_clock.start(); }
    // Adds the port and the seconds since the start, and writes the object.
    void Event(const std::string& port, QJsonObject object);
    void Result(const SessionResult& result);
    // A keypad that failed goes back in the queue: when it is tried again.
    void Retry(const SessionResult& failed, int inMs);
    // The last object of a run of many: its totals and exit code.
    void Summary(const FleetTotals& totals, size_t skipped, int exitCode);
    // An "error" object, also said on stderr.
    void Error(const std::string& port, const std::string& text);

private:
    QElapsedTimer m_clock;
};

// One keypad's session as JSON objects: each status text, and each whole
// percent of the data phase.
class CJsonSink : public ISessionSink {
public:
    CJsonSink(CJsonOutput& output, const std::string& port) : m_output(output), m_port(port) {}

    void Status(const std::string& text) override;
    void Range(int, int) override {}
    void Position(int position) override;
    void TimeRemaining(const std::string& text) override { m_timeText = text; }
    void BeginDataPhase() override;
    void Finish() override { m_dataPhase = false; }
    void Error(const std::string& text) override;
    void Trace(const std::string& line) override;
    void NoLowLatency(const std::string& device) override;

private:
    CJsonOutput& m_output;
    std::string m_port;
    std::string m_timeText;
    bool m_dataPhase = false;
    int m_percent = -1;
};

#include "json_output.h"

#include <QJsonDocument>
#include <cstdio>

#include "console_output.h"
#include "terminal_view.h"

void CJsonOutput::Event(const std::string& port, QJsonObject object) {
    object["port"] = JsonText(port);
    object["t"] = static_cast<double>(m_clock.elapsed()) / 1000.0;
    Output(stdout, JsonLine(object).toStdString());
}

void CJsonOutput::Result(const SessionResult& result) { Event(result.port, ResultObject(result)); }

void CJsonOutput::Retry(const SessionResult& failed, int inMs) {
    QJsonObject o;
    o["type"] = "retry";
    o["attempt"] = failed.attempt + 1;
    o["in_seconds"] = inMs / 1000.0;
    Event(failed.port, o);
}

void CJsonOutput::Summary(const FleetTotals& totals, size_t skipped, int exitCode) {
    QJsonObject o;
    o["type"] = "summary";
    o["total"] = static_cast<qint64>(totals.total);
    o["ok"] = static_cast<qint64>(totals.ok);
    o["failed"] = static_cast<qint64>(totals.failed);
    o["not_run"] = static_cast<qint64>(totals.total - totals.ok - totals.failed);
    o["skipped"] = static_cast<qint64>(skipped);
    o["exit_code"] = exitCode;
    Event("", o);
}

void CJsonOutput::Error(const std::string& port, const std::string& text) {
    OutputLine(stderr, "orbix-flash: " + port + (port.empty() ? "" : ": ") + text);
    QJsonObject o;
    o["type"] = "error";
    o["text"] = JsonText(text);
    Event(port, o);
}

void CJsonSink::Status(const std::string& text) {
    QJsonObject o;
    o["type"] = "status";
    o["text"] = JsonText(text);
    m_output.Event(m_port, o);
}

void CJsonSink::BeginDataPhase() {
    m_dataPhase = true;
    m_percent = -1;
    m_timeText.clear();
}

void CJsonSink::Position(int position) {
    if (!m_dataPhase || position == m_percent) return;
    m_percent = position;
    QJsonObject o;
    o["type"] = "progress";
    o["percent"] = position;
    o["remaining"] = m_timeText.empty() ? QJsonValue() : QJsonValue(JsonText(m_timeText));
    m_output.Event(m_port, o);
}

void CJsonSink::Error(const std::string& text) { m_output.Error(m_port, text); }

void CJsonSink::Trace(const std::string& line) { OutputLine(stderr, m_port + " " + line, OUTPUT_TRACE); }

void CJsonSink::NoLowLatency(const std::string& device) { Trace(LowLatencyNote(device)); }

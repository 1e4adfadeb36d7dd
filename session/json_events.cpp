#include "json_events.h"

#include <QJsonValue>

QJsonObject RetryObject(const SessionResult& failed, int inMs) {
    QJsonObject o;
    o["type"] = "retry";
    o["attempt"] = failed.attempt + 1;
    o["in_seconds"] = inMs / 1000.0;
    return o;
}

QJsonObject SummaryObject(const FleetTotals& totals, size_t skipped, int exitCode) {
    QJsonObject o;
    o["type"] = "summary";
    o["total"] = static_cast<qint64>(totals.total);
    o["ok"] = static_cast<qint64>(totals.ok);
    o["failed"] = static_cast<qint64>(totals.failed);
    o["not_run"] = static_cast<qint64>(totals.total - totals.ok - totals.failed);
    o["skipped"] = static_cast<qint64>(skipped);
    o["exit_code"] = exitCode;
    return o;
}

QJsonObject ErrorObject(const std::string& text) {
    QJsonObject o;
    o["type"] = "error";
    o["text"] = JsonText(text);
    return o;
}

void CJsonEventSink::Status(const std::string& text) {
    QJsonObject o;
    o["type"] = "status";
    o["text"] = JsonText(text);
    m_emit(o);
}

void CJsonEventSink::BeginDataPhase() {
    m_dataPhase = true;
    m_percent = -1;
    m_timeText.clear();
}

void CJsonEventSink::Position(int position) {
    if (!m_dataPhase || position == m_percent) return;
    m_percent = position;
    QJsonObject o;
    o["type"] = "progress";
    o["percent"] = position;
    o["remaining"] = m_timeText.empty() ? QJsonValue() : QJsonValue(JsonText(m_timeText));
    m_emit(o);
}

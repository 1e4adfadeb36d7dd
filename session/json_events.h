#pragma once
#include <QJsonObject>
#include <functional>
#include <string>

#include "fleet_tally.h"
#include "result_record.h"
#include "session_sink.h"

// A run's events as the objects of a JSON Lines stream, for a front end that
// writes them and adds the port and the time: a keypad that failed going back
// in the queue, the totals that end a run of many, an error.
QJsonObject RetryObject(const SessionResult& failed, int inMs);
QJsonObject SummaryObject(const FleetTotals& totals, size_t skipped, int exitCode);
QJsonObject ErrorObject(const std::string& text);

// One keypad's session as JSON objects, each given to `emit`: each status
// text, and each whole percent of the data phase with the time remaining.
// Errors, traces and the low-latency note are the front end's to show.
class CJsonEventSink : public ISessionSink {
public:
    explicit CJsonEventSink(std::function<void(QJsonObject object)> emit) : m_emit(std::move(emit)) {}

    void Status(const std::string& text) override;
    void Range(int, int) override {}
    void Position(int position) override;
    void TimeRemaining(const std::string& text) override { m_timeText = text; }
    void BeginDataPhase() override;
    void Finish() override { m_dataPhase = false; }

private:
    std::function<void(QJsonObject object)> m_emit;
    std::string m_timeText;
    bool m_dataPhase = false;
    int m_percent = -1;
};

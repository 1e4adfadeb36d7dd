#pragma once
#include <string>
#include <vector>

#include "session/fleet_tally.h"
#include "session/session_sink.h"

class CGangView;
class CJsonOutput;

// How a run of many keypads goes, on the terminal or in JSON: the gang
// view's lines, totals and rows, and the retry notes.
class CFleetProgress {
public:
    // `json` when the output is JSON Lines, `gang` when a gang view shows it.
    CFleetProgress(const std::vector<PortTarget>& targets, const CFleetTally& tally, bool station, bool quiet,
                   CJsonOutput* json, CGangView* gang)
        : m_targets(targets), m_tally(tally), m_station(station), m_quiet(quiet), m_json(json), m_gang(gang) {}

    void Started(size_t target);
    // `retryInMs` >= 0: the keypad waits for another attempt.
    void Ended(const SessionResult& result, int retryInMs);

private:
    void ShowEnded(const SessionResult& result, size_t target, int retryInMs);

    const std::vector<PortTarget>& m_targets;
    const CFleetTally& m_tally;
    bool m_station;
    bool m_quiet;
    CJsonOutput* m_json;
    CGangView* m_gang;
};

// A keypad's view, with its units' ends carried to the run's progress on the
// same route as everything it shows, so a result never passes its own lines.
class CProgressSink : public ISessionSink {
public:
    CProgressSink(ISessionSink& view, CFleetProgress& progress) : m_view(view), m_progress(progress) {}

    void Status(const std::string& text) override { m_view.Status(text); }
    void Range(int lower, int upper) override { m_view.Range(lower, upper); }
    void Position(int position) override { m_view.Position(position); }
    void TimeRemaining(const std::string& text) override { m_view.TimeRemaining(text); }
    void BeginDataPhase() override { m_view.BeginDataPhase(); }
    void Finish() override { m_view.Finish(); }
    void Error(const std::string& text) override { m_view.Error(text); }
    void Trace(const std::string& line) override { m_view.Trace(line); }
    void NoLowLatency(const std::string& device) override { m_view.NoLowLatency(device); }
    void Waiting(const std::string& text) override { m_view.Waiting(text); }
    void Station(const StationEvent& event) override {
        m_view.Station(event);
        if (event.kind == StationEvent::UNIT_ENDED) m_progress.Ended(event.result, event.retryInMs);
        if (event.kind == StationEvent::SERIAL_REFUSED) m_view.Error(event.text);
    }

private:
    ISessionSink& m_view;
    CFleetProgress& m_progress;
};

#pragma once
#include <string>
#include <vector>

#include "session/fleet_tally.h"

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

#pragma once
#include <map>
#include <string>
#include <vector>

#include "session/fleet.h"
#include "session/result_record.h"
#include "summary.h"

class CGangView;
class CJsonOutput;

// How a run of many keypads goes, as the runner reports it: the totals, the
// gang view's lines and rows, the retry notes, and each keypad's last attempt
// for the table. A station's units are each a last attempt.
class CFleetProgress {
public:
    // `json` when the output is JSON Lines, `gang` when a gang view shows it.
    CFleetProgress(const std::vector<PortTarget>& targets, bool station, bool quiet, CJsonOutput* json,
                   CGangView* gang);

    void Started(size_t target);
    // `retryInMs` >= 0: the keypad waits for another attempt.
    void Ended(const SessionResult& result, int retryInMs);
    // The run has ended: a keypad still waiting to be tried again counts by its last attempt.
    void Conclude();
    // The last attempts: with the failed first, else in the order given.
    std::vector<SessionResult> Finals(bool failedFirst);
    const FleetTotals& Totals() const { return m_totals; }

private:
    void ShowEnded(const SessionResult& result, size_t target, int retryInMs);

    const std::vector<PortTarget>& m_targets;
    bool m_station;
    bool m_quiet;
    CJsonOutput* m_json;
    CGangView* m_gang;
    FleetTotals m_totals;
    std::vector<SessionResult> m_finals;
    std::map<size_t, SessionResult> m_waiting;  // the last attempt of each keypad waiting for another
    std::map<std::string, size_t> m_position;  // of each port in the order given
};

// A keypad as lines and messages name it: its unit name and port, or the port.
std::string TargetLabel(const PortTarget& target);

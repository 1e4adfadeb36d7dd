#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fleet.h"
#include "result_record.h"

// How far a run of many keypads is: each keypad counts once, by its last
// attempt; one to be tried again is waiting. A station's units count each.
struct FleetTotals {
    size_t total = 0;  // keypads to run, those skipped by --resume not counted
    size_t ok = 0;
    size_t failed = 0;
    size_t running = 0;
    // "done X of Y, ok A, failed B, waiting C"
    std::string Line() const;
    // A station's: "units: ok A, failed B, yield Y%", each unit counted once, by its last attempt.
    std::string UnitsLine() const;
};

// A run of many keypads as its runner reports it: the totals, each target's
// units, and each keypad's last attempt for the table. A station's units are
// each a last attempt. The runner's threads report; any thread reads.
class CFleetTally {
public:
    CFleetTally(const std::vector<PortTarget>& targets, bool station);
    CFleetTally& operator=(const CFleetTally& other);

    void Started(size_t target);
    // `retryInMs` >= 0: the keypad waits for another attempt.
    void Ended(const SessionResult& result, int retryInMs);
    // The run has ended: a keypad still waiting to be tried again counts by its last attempt.
    void Conclude();
    // The last attempts: with the failed first, else in the order given.
    std::vector<SessionResult> Finals(bool failedFirst) const;
    FleetTotals Totals() const;
    // The units of one target (a station's), ok and not.
    FleetTotals TargetTotals(size_t target) const;

private:
    mutable std::mutex m_mutex;
    bool m_station;
    FleetTotals m_totals;
    std::vector<FleetTotals> m_targets;
    std::vector<SessionResult> m_finals;
    std::map<size_t, SessionResult> m_waiting;  // the last attempt of each keypad waiting for another
};

#pragma once
#include <string>

#include "session/result_record.h"

// The table printed after many keypads: one row per keypad (per unit in
// station mode) with how it ended, how long it took, the image bytes sent and
// the Memory ID fields read ("-" where none was).
std::string SummaryHeader();
std::string SummaryRow(const SessionResult& result);

// How far a run of many keypads is: each keypad counts once, by its last
// attempt; one to be tried again is waiting.
struct FleetTotals {
    size_t total = 0;  // keypads to run, those skipped by --resume not counted
    size_t ok = 0;
    size_t failed = 0;
    size_t running = 0;
    // "done X of Y, ok A, failed B, waiting C"
    std::string Line() const;
};

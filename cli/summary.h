#pragma once
#include <string>

#include "session/result_record.h"

// The table printed after many keypads: one row per keypad (per unit in
// station mode) with how it ended, how long it took, the image bytes sent and
// the Memory ID fields read ("-" where none was).
std::string SummaryHeader();
std::string SummaryRow(const SessionResult& result);

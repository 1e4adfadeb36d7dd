#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A shift's report from records logs: units, not attempts. A unit is one
// keypad at one slot of one station, from its first attempt to its last; a
// unit begun and never ended (the program killed mid-update) counts as
// incomplete. Logs written before the records named a station or a serial
// read all the same.
struct ReportUnit {
    std::string station;  // empty when the records name none
    std::string slot;     // the slot's (unit's) name, else the port
    std::string port;
    std::string serial;
    std::string operatorName;
    std::string command;
    std::string file;
    std::string sha256;
    std::string outcome;  // ok, failed, incomplete, interrupted
    std::string lastText;
    int attempts = 0;
    std::string start;  // as its first record gives it (ISO 8601, UTC)
    int64_t startMs = 0;
    int64_t endMs = 0;
};

struct ReportTally {
    int ok = 0, failed = 0, incomplete = 0, interrupted = 0;
    int Units() const { return ok + failed + incomplete + interrupted; }
    // Of the units that ended on their own (an interrupted one says nothing of the keypad).
    double Yield() const;
    void Add(const std::string& outcome);
};

struct ShiftReport {
    std::vector<ReportUnit> units;  // in the order they began
    ReportTally total;
    std::map<std::string, ReportTally> byStation, bySlot, byImage, byDay;  // a day is local, YYYY-MM-DD
    std::vector<std::pair<std::string, int>> reasons;                      // failures' last texts, most first
    std::vector<std::pair<std::string, int>> repeatedSerials;              // serials of more than one unit
    std::map<int64_t, int> unitsByHour;  // units begun in each hour (its start, ms since 1970 UTC)
    double unitsPerHour = 0;             // from the first unit's start to the last one's end
    int unreadLines = 0;                 // lines of the logs that are no record
};

// Reads every log into `report`; 0 with `error` naming a log that cannot be read.
int ReadShiftReport(const std::vector<std::string>& logs, ShiftReport& report, std::string& error);

// An image as the report names it: its file's name and the start of its SHA-256.
std::string ReportImageName(const std::string& file, const std::string& sha256);

// "units 7: ok 4, failed 1, incomplete 2, interrupted 0; yield 57.1%; 3.5 units an hour"
std::string ReportSummaryLine(const ShiftReport& report);

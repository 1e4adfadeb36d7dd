#pragma once
#include <QJsonObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

// How one keypad's command ended, for the summary table, --json and --log.
struct SessionResult {
    std::string port;
    std::string unit;     // the unit name a fleet file gave the port, if any
    size_t target = 0;    // the run's target it ran on (not recorded): a port's text may name it otherwise
    std::string unitId;   // joins a unit's begin record to its end; empty: no begin was written
    std::string serial;   // the keypad's serial number, when one was given or scanned
    int attempt = 1;      // 2 and on: a retry (--retries)
    std::string command;  // test, scan, firmware, screens
    std::string file;     // absolute path, empty for test and scan
    std::string sha256;   // of the file's bytes, hex
    uint32_t imageLength = 0;
    uint32_t bytesSent = 0;  // image bytes that went out in data chunks
    int exitCode = 0;
    std::string lastText;
    bool portGone = false;   // the port would not open, or went away mid-command (not recorded)
    std::string recordLost;  // why its record is not in the log (not recorded); empty: it is, or no log
    std::string logNote;     // the log was made again at its path before this record (not recorded)
    bool firmwareIdRead = false;
    bool screensIdRead = false;
    int firmwareLastSector = 0;
    int screensLastSector = 0;
    uint32_t programIndex = 0;
    uint32_t tagValue = 0;
    int64_t startMs = 0;  // calendar time, milliseconds since 1970 UTC
    double seconds = 0;
};

// Who wrote a run's records, named in each: the station, the operator, the
// program and the bench profile, so the logs of many benches can be put together.
struct RecordSource {
    std::string station;  // the profile's or --station, else the machine's host name
    std::string operatorName;
    std::string program;        // name and version
    std::string profile;        // the profile's file name; empty: none
    std::string profileSha256;  // of its bytes
};

// The source of a run of `program` ("orbix-flash"): the station named, else the host's name.
RecordSource MakeRecordSource(const std::string& program, const std::string& station, const std::string& operatorName,
                              const std::string& profilePath);

// A program text as a JSON string. Every text of ours is UTF-8, file names on Windows included
// (they come from the wide command line), whatever the system's 8-bit code page.
QString JsonText(const std::string& text);

// The "result" object of --json and --log.
QJsonObject ResultObject(const SessionResult& result);
// A record as a log keeps it: `object` with its source's fields.
QJsonObject SourcedRecord(QJsonObject object, const RecordSource& source);
// The "begin" record of a unit about to be sent its first command: its
// result's `unit_id`, port, unit, attempt, command, file, sha256 and start.
QJsonObject BeginObject(const SessionResult& begun);
// A new unit's `unitId`, its start time and its place in the run.
SessionResult BegunUnit(const std::string& port, const std::string& unit, size_t target, int attempt);

// One JSON Lines line: the object, compact, and its newline.
QByteArray JsonLine(const QJsonObject& object);

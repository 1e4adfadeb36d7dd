#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "fleet.h"
#include "result_record.h"
#include "session_request.h"

// --log FILE: each unit's beginning, then its result, appended as JSON Lines
// and flushed to the disk before the keypad is sent anything, or before it
// counts as done, so a crash loses none already written and a unit cut short
// shows. Stations append from their own threads: one record at a time.
class CResultLog {
public:
    ~CResultLog();
    // Opens (creates) the file for appending; 0 with `error` set when it cannot.
    // A last line a crash cut short is ended first, so the next record stays whole.
    int Open(const std::string& path, std::string& error);
    // The "begin" record of a unit about to start (`result` as far as it is
    // known), and its end: 0 with `reason` when the line is not whole on the
    // disk; the file is then cut back to where it was, so the next record
    // starts a line of its own. A log removed or replaced since is made again
    // at its path first, and `note` says so. A pipe nobody reads fails after a
    // few seconds rather than holding the station.
    int Begin(const SessionResult& result, std::string& reason, std::string& note);
    int Append(const SessionResult& result, std::string& reason, std::string& note);
    bool IsOpen() const { return m_fd >= 0; }
    // Who writes the records from here on (the operator may change between units).
    void SetSource(const RecordSource& source);
    // Each record's line once it is whole on the disk, on the writer's thread
    // (one at a time, in the log's order): where it goes next must not block.
    std::function<void(const QByteArray& line)> onWritten;

private:
    int Write(const QJsonObject& record, std::string& reason, std::string& note);
    int Reopen(std::string& reason, std::string& note);

    std::mutex m_mutex;
    RecordSource m_source;
    std::string m_path;
    int m_fd = -1;
    bool m_regular = true;  // a file on a disk, not /dev/null, a FIFO or a pipe
};

// The unit about to run `request` on `target`, its begin record in `log` (an
// update's, when there is a log) before anything is sent. When the record
// cannot be written the unit must not start: its `recordLost` says why and it
// ends as it is (EXIT_RECORDS).
SessionResult BeginUnit(CResultLog* log, const SessionRequest& request, const PortTarget& target, size_t index,
                        int attempt);

// --resume LOG: the ports (by DeviceIdentity) whose last record in the log is
// an `ok` of this command with this image (`sha256` empty for test), and in
// `cutOff` those whose last unit began and never ended (the program was
// killed, the power cut): their keypads are half-written. A log that does not
// exist yet skips nothing; a line cut short by a crash is passed over. 0 with
// `error` when the log cannot be read.
int ReadDonePorts(const std::string& path, const std::string& command, const std::string& sha256,
                  std::set<std::string>& done, std::set<std::string>& cutOff, std::string& error);
// The serials whose last record of this command in the log is an `ok` with
// this image, each with that record's start; as ReadDonePorts otherwise.
int ReadDoneSerials(const std::string& path, const std::string& command, const std::string& sha256,
                    std::map<std::string, std::string>& doneAt, std::string& error);

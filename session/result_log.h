#pragma once
#include <set>
#include <string>

#include "result_record.h"

// --log FILE: the result objects appended as JSON Lines, each flushed to the
// disk before the next keypad's result, so a crash loses none already written.
class CResultLog {
public:
    ~CResultLog();
    // Opens (creates) the file for appending; 0 with `error` set when it cannot.
    // A last line a crash cut short is ended first, so the next record stays whole.
    int Open(const std::string& path, std::string& error);
    // 0 with `reason` when the line is not whole on the disk; the file is
    // then cut back to where it was, so the next record starts a line of its own.
    int Append(const SessionResult& result, std::string& reason);
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    bool m_regular = true;  // a file on a disk, not /dev/null, a FIFO or a pipe
};

// --resume LOG: the ports (by DeviceIdentity) whose last record in the log is
// an `ok` of this command with this image (`sha256` empty for test). A log
// that does not exist yet skips nothing; a line cut short by a crash is passed
// over. 0 with `error` when the log cannot be read.
int ReadDonePorts(const std::string& path, const std::string& command, const std::string& sha256,
                  std::set<std::string>& done, std::string& error);

#pragma once
// Starting the real programs for end-to-end tests: with arguments, captured
// output (stdout and stderr in one stream, in order), a deadline, signals.
#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;  // 128 + signal when killed by one
    std::string output;
    double seconds = 0;
    bool timedOut = false;
};

class CProcess {
public:
    // Starts `argv[0]` with the arguments; `asUser` runs it as that user (root only).
    explicit CProcess(const std::vector<std::string>& argv, const std::string& asUser = "");
    ~CProcess();

    // Reads output until `needle` has appeared or `seconds` passed; true when it appeared.
    bool WaitForOutput(const std::string& needle, double seconds);
    // Waits for the end (killing it after `seconds`) and returns what happened.
    ProcessResult Wait(double seconds);
    void Signal(int signo);
    const std::string& Output() const { return m_output; }
    // The first line of output (the simulator prints its device there).
    std::string FirstLine(double seconds);

private:
    bool ReadSome(int timeoutMs);

    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_output;
    double m_start = 0;
    bool m_finished = false;
    ProcessResult m_result;
};

// Runs a program to its end.
ProcessResult RunProgram(const std::vector<std::string>& argv, double seconds = 60, const std::string& asUser = "");
double MonotonicSeconds();

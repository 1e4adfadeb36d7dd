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
    // With `terminal`, its output goes to a raw pseudo-terminal that is its
    // controlling terminal, as in an interactive session.
    explicit CProcess(const std::vector<std::string>& argv, const std::string& asUser = "", bool terminal = false);
    ~CProcess();

    // Reads output until `needle` has appeared `times` times or `seconds`
    // passed; true when it has.
    bool WaitForOutput(const std::string& needle, double seconds, int times = 1);
    // Waits for the end (killing it after `seconds`) and returns what happened.
    ProcessResult Wait(double seconds);
    void Signal(int signo);
    // Closes the terminal's far end, as a closed window or SSH session does:
    // the kernel hangs the line up (SIGHUP) and nothing more can be read.
    void HangUp();
    const std::string& Output() const { return m_output; }
    pid_t Pid() const { return m_pid; }
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

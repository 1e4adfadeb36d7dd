#pragma once
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "session_request.h"

class CGangRunner;

// What a search for keypads found.
struct KeypadSearch {
    std::vector<std::string> tried;     // the ports probed, as given
    std::vector<std::string> answered;  // those where a keypad answered, sorted
    int stopExit = 0;                   // Stop's exit code when the search was stopped

    // Why the search names no single keypad ("no keypad answered on COM3, COM5",
    // "2 keypads answered: COM3, COM5"); empty when one answered or it was stopped.
    std::string Problem() const;
};

// Why an auto port (auto, auto:GLOB) has nothing to probe.
std::string NoCandidatesText(const std::string& autoName);
// "A, B, C".
std::string JoinedNames(const std::vector<std::string>& names);

// Looks for keypads the way an auto port does: every port probed with the
// connection test at the same time, each on its own thread, so ten ports that
// stay silent take one test's give-up time. The search runs off the caller's
// thread: a window's events go on meanwhile.
class CKeypadFinder : public QObject {
public:
    // The request gives what a probe shares with the run it finds keypads for
    // (the stall time-out); the policy is asked for an interruption taken
    // before a probe could be told (none: nothing is pending).
    explicit CKeypadFinder(const SessionRequest& request = {}, ISessionPolicy* policy = nullptr);
    ~CKeypadFinder() override;  // stops a search and waits for its end

    // Probes `ports`; `done` is called on this object's thread once every
    // probe has ended. Nothing happens while a search runs already.
    void Start(const std::vector<std::string>& ports, std::function<void(const KeypadSearch&)> done);
    // Start, waiting in an event loop of its own for the answer.
    KeypadSearch Run(const std::vector<std::string>& ports);
    // Ends the probes at once; the search reports with `exitCode`. From this object's thread.
    void Stop(int exitCode);
    // Stops a search and waits for its end; `done` is not called.
    void Cancel();
    bool IsRunning() const { return m_thread != nullptr; }

private:
    class CNoQuestions : public ISessionPolicy {
        Reply ConfirmErase(const std::string&) override { return {}; }
        Reply AcceptDamagedFile(const std::string&) override { return {}; }
    };
    KeypadSearch Search(const std::vector<std::string>& ports);

    SessionRequest m_request;
    CNoQuestions m_noQuestions;
    ISessionPolicy& m_policy;
    std::unique_ptr<QThread> m_thread;
    std::mutex m_mutex;  // guards the two below, shared with the search's thread
    CGangRunner* m_runner = nullptr;
    int m_stopExit = 0;
};

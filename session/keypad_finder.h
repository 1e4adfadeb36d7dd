#pragma once
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/loader_host.h"
#include "session_request.h"

// What a search for keypads found.
struct KeypadSearch {
    std::vector<std::string> tried;     // the ports probed, as given
    std::vector<std::string> answered;  // those where a keypad answered, sorted
    std::vector<std::string> unopened;  // those still opening when the search gave up on them
    int stopExit = 0;                   // Stop's exit code when the search was stopped

    // Why the search names no single keypad ("no keypad answered on COM3, COM5",
    // "2 keypads answered: COM3, COM5"); empty when one answered or it was stopped.
    std::string Problem() const;
};

// Why an auto port (auto, auto:GLOB) has nothing to probe.
std::string NoCandidatesText(const std::string& autoName);
// "A, B, C".
std::string JoinedNames(const std::vector<std::string>& names);

// Tests make a probe hang here, on its own thread just before its port is opened, the way a port
// whose open never returns does (Wine's COM1, a Bluetooth port); an empty function ends that.
void ReplaceProbeStart(std::function<void(const std::string& port)> hook);

// Looks for keypads the way an auto port does: every port probed with the
// connection test at the same time, each on its own thread, so ten ports that
// stay silent take one test's give-up time. The search runs off the caller's
// thread: a window's events go on meanwhile. It answers by its deadline
// whatever the ports do: a probe that has not ended by then counts as not
// answering and is left to end by itself.
class CKeypadFinder : public QObject {
public:
    // One connection test's give-up time (BREAK's two 100 ms waits, then four probes a second
    // apart) and a little for the ports to open.
    static constexpr int DEADLINE_MS = 200 + 4 * TIMER_CONNECT_MS + 500;

    // The request gives what a probe shares with the run it finds keypads for
    // (the stall time-out); the policy is asked for an interruption taken
    // before a probe could be told (none: nothing is pending). It must outlive
    // this finder, not the probes this finder leaves behind.
    explicit CKeypadFinder(const SessionRequest& request = {}, ISessionPolicy* policy = nullptr);
    ~CKeypadFinder() override;  // as Cancel

    // Probes `ports`; `done` is called on this object's thread once every
    // probe has ended, or at the deadline once those cut short have closed
    // their ports. Nothing happens while a search runs already.
    void Start(const std::vector<std::string>& ports, std::function<void(const KeypadSearch&)> done);
    // Start, waiting in an event loop of its own for the answer.
    KeypadSearch Run(const std::vector<std::string>& ports);
    // Ends the probes at once; the search reports with `exitCode` once those
    // that opened their ports have let go of them. From this object's thread.
    void Stop(int exitCode);
    // Stops a search and waits (briefly) for the probes that opened their
    // ports to close them; one hanging in its open is left behind. `done` is not called.
    void Cancel();
    bool IsRunning() const { return m_search != nullptr; }

private:
    struct Search;
    static void Probe(const std::shared_ptr<Search>& search, size_t index);
    void ProbeEnded(const std::shared_ptr<Search>& search);
    void Answer();

    SessionRequest m_request;
    ISessionPolicy* m_policy;
    std::shared_ptr<Search> m_search;  // shared with its probes, which may outlive this finder
    std::function<void(const KeypadSearch&)> m_done;
    int m_stopExit = 0;  // Stop's exit code, for the answer
    QTimer m_deadline;
};

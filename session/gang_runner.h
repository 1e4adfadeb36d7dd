#pragma once
#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "exit_code.h"
#include "result_record.h"
#include "session_request.h"
#include "session_sink.h"

class CKeypadSession;
class CEnterKey;

// One keypad to talk to: the port as the user named it, and the device to
// open when it is not that name (a simulated keypad's pseudo-terminal).
struct PortTarget {
    std::string port;
    std::string device;
};

// Runs one command on many keypads at once: each port gets its own thread,
// event loop, engine, port and timers, so a keypad that fails, stalls or
// vanishes, or the blocking waits around one keypad's BREAK, hold up no other.
// Their output reaches the sinks on this (the main) thread, in order.
class CGangRunner : public QObject {
public:
    // The request's port and command are each session's own (Run's targets
    // and command); the policy answers from the sessions' threads.
    CGangRunner(const SessionRequest& request, ISessionPolicy& policy) : m_request(request), m_policy(policy) {}

    // Returns when every port's session (in station mode, every unit) has
    // ended: the results in the order they came.
    std::vector<SessionResult> Run(const std::vector<PortTarget>& targets, KeypadCommand command,
                                   const std::vector<ISessionSink*>& sinks);
    // Each result as it comes, on this thread.
    std::function<void(const SessionResult&)> onResult;
    // --repeat=enter: what the stations wait for between units.
    CEnterKey* enterKey = nullptr;

    // Stops the run (Ctrl-C, SIGTERM): every session running is aborted, no
    // new one starts. Returns how many updates were running.
    int Interrupt(int exitCode);

private:
    void RunPort(const PortTarget& target, KeypadCommand command, ISessionSink& view);
    int RunSession(const SessionRequest& request, const std::string& device, ISessionSink& view, bool update,
                   SessionResult* result);
    void Register(CKeypadSession* host, bool update);
    void Unregister(CKeypadSession* host);

    const SessionRequest& m_request;
    ISessionPolicy& m_policy;
    std::mutex m_mutex;
    std::vector<std::pair<CKeypadSession*, bool>> m_hosts;  // running, and whether each is an update
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_interruptExit{0};
    std::vector<SessionResult> m_results;
};

// The exit code of many: the interruption's when there was one, else the most
// serious (MoreSeriousExit), else 0.
int CombinedExitCode(const std::vector<SessionResult>& results, int interruptExit);

#pragma once
#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "exit_code.h"
#include "fleet.h"
#include "job_queue.h"
#include "result_record.h"
#include "session_request.h"
#include "session_sink.h"

class CKeypadSession;
class CEnterKey;
class CFleetTally;
class CResultLog;
class CSerialDesk;

// Runs one command on many keypads, up to `jobs` at once, the rest waiting in
// the order given: each running keypad has its own thread, event loop,
// engine, port and timers, so a keypad that fails, stalls or vanishes, or the
// blocking waits around one keypad's BREAK, hold up no other. Their output
// reaches the sinks on this (the main) thread, in order, a station's typed
// events (StationEvent) among it; a sink that takes calls from any thread gets
// them from the keypad's.
//
// Threads: Run on the thread that made the runner; Interrupt from any thread.
class CGangRunner : public QObject {
public:
    // The request's port and command are each session's own (Run's targets
    // and command); the policy answers from the sessions' threads.
    CGangRunner(const SessionRequest& request, ISessionPolicy& policy) : m_request(request), m_policy(policy) {}

    // Returns when every port's session (in station mode, every unit, with
    // retries, every attempt) has ended: the results in the order they came.
    // sinks[i] shows targets[i].
    std::vector<SessionResult> Run(const std::vector<PortTarget>& targets, KeypadCommand command,
                                   const std::vector<ISessionSink*>& sinks);
    // Each result as it comes, on this thread, with the milliseconds before
    // its keypad is tried again, or -1 when it is not.
    std::function<void(const SessionResult&, int retryInMs)> onResult;
    // A keypad's attempt starts (targets' index), on this thread.
    std::function<void(size_t target)> onStarted;
    // How many keypads at once (stations need one each), how many times one
    // that failed is tried again (a station's unit on its own port), and the
    // back-off before the first retry, doubled for each one after.
    int jobs = DEFAULT_JOBS;
    int retries = 0;
    int retryDelayMs = DEFAULT_RETRY_DELAY_MS;
    // --repeat=enter: what the stations wait for between units.
    CEnterKey* enterKey = nullptr;
    // Where each unit's beginning (before anything is sent) and end are
    // written, from its keypad's thread; the tally counts it there before its
    // end is shown. A station whose record cannot be written stops.
    CResultLog* log = nullptr;
    CFleetTally* tally = nullptr;
    // The first target's index in the whole run (a station run on its own).
    size_t firstTarget = 0;
    // Stations whose units wait for their keypads' serials: where they come from.
    CSerialDesk* serials = nullptr;

    // Stops the run (Ctrl-C, SIGTERM, a window's Stop): every session running
    // is aborted, no new one starts. From any thread. Returns how many were running.
    int Interrupt(int exitCode);

private:
    void RunPort(const PortTarget& target, const CJobQueue::Job& job, KeypadCommand command, ISessionSink& view);
    // One attempt of a unit: begun on the disk, run, ended on the disk and counted.
    SessionResult RunUnit(const SessionRequest& request, const PortTarget& target, size_t index, int attempt,
                          ISessionSink& sink);
    void Work(CJobQueue& queue, const std::vector<PortTarget>& targets, KeypadCommand command,
              const std::vector<ISessionSink*>& sinks);
    int RetryDelayMs(const SessionResult& result, int attempt) const;
    // False when the run is stopped before `ms` have passed.
    bool PauseUnlessStopped(int ms) const;
    SessionResult RunSession(const SessionRequest& request, const std::string& device, ISessionSink& view);
    void Register(CKeypadSession* host);
    void Unregister(CKeypadSession* host);

    const SessionRequest& m_request;
    ISessionPolicy& m_policy;
    std::mutex m_mutex;
    std::vector<CKeypadSession*> m_hosts;  // running
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_interruptExit{0};
    CJobQueue* m_queue = nullptr;  // while Run runs; set and read under m_mutex
    std::vector<SessionResult> m_results;
};

// The exit code of many: the interruption's when there was one, else the most
// serious (MoreSeriousExit), else 0.
int CombinedExitCode(const std::vector<SessionResult>& results, int interruptExit);

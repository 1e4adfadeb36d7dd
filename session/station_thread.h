#pragma once
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>

#include "fleet.h"
#include "run_plan.h"
#include "session_request.h"
#include "session_sink.h"
#include "station.h"

class CFleetTally;
class CGangRunner;
class CResultLog;
class CSerialDesk;

// One station of a run on a thread of its own, by a gang runner of one, so it
// starts, stops and fails on its own, and starts again any number of times.
//
// Threads: every call, and `onEnded`, on the thread that made it (the
// owner's); the view is called from the station's threads. The runner, the
// only state the station's thread shares, is guarded by the mutex.
class CStationThread : public QObject {
public:
    // `request`, `plan`, `policy`, `log` and `tally` outlive it; `index` is the target's in the run.
    CStationThread(const SessionRequest& request, const RunPlan& plan, ISessionPolicy& policy, CResultLog* log,
                   CSerialDesk* serials, CFleetTally& tally, size_t index)
        : m_request(request),
          m_plan(plan),
          m_policy(policy),
          m_log(log),
          m_serials(serials),
          m_tally(tally),
          m_index(index) {}
    ~CStationThread() override;  // stops the station and waits for it

    // `view` takes calls from any thread (TakesCallsFromAnyThread) and outlives the station.
    void Start(const PortTarget& target, ISessionSink& view, bool startByOperator);
    // An update running is aborted (its record is written all the same).
    void Stop(int exitCode);
    // Stops it and waits for its thread; `onEnded` does not come.
    void End();
    // Started by the operator: the unit the station waits for begins.
    void Next() { m_enter.Pressed(); }
    bool IsRunning() const { return m_thread != nullptr; }
    std::function<void()> onEnded;

private:
    void Run(const PortTarget& target, ISessionSink& view, bool startByOperator);

    const SessionRequest& m_request;
    const RunPlan& m_plan;
    ISessionPolicy& m_policy;
    CResultLog* m_log;
    CSerialDesk* m_serials;
    CFleetTally& m_tally;
    size_t m_index;
    CEnterKey m_enter;
    std::unique_ptr<QThread> m_thread;
    bool m_stopped = false;  // since it started
    std::mutex m_mutex;      // guards the two below
    CGangRunner* m_runner = nullptr;
    int m_stopExit = 0;  // a stop asked for before the runner was there
};

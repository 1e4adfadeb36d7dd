#include "gang_runner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <algorithm>

#include "fleet_tally.h"
#include "keypad_session.h"
#include "queued_sink.h"
#include "result_log.h"
#include "station.h"

SessionResult CGangRunner::RunSession(const SessionRequest& request, const std::string& device, ISessionSink& view) {
    CKeypadSession host(request, view, m_policy);
    Register(&host);
    host.Run(device);  // a signal already taken stops it before anything is sent
    Unregister(&host);
    return host.Result();
}

SessionResult CGangRunner::RunUnit(const SessionRequest& request, const PortTarget& target, size_t index, int attempt,
                                   ISessionSink& sink) {
    SessionResult begun = BeginUnit(log, request, target, index, attempt);
    if (!begun.recordLost.empty()) return begun;
    sink.Station({StationEvent::UNIT_BEGUN});
    SessionResult result = RunSession(request, target.device, sink);
    if (!target.device.empty()) result.port = target.port;
    result.unit = target.unit;
    result.serial = target.serial;
    result.attempt = attempt;
    result.target = index;
    result.unitId = begun.unitId;
    result.logNote = begun.logNote;
    if (log) log->Append(result, result.recordLost, result.logNote);
    return result;
}

void CGangRunner::RunPort(const PortTarget& target, const CJobQueue::Job& job, KeypadCommand command,
                          ISessionSink& view) {
    SessionRequest request = m_request;
    request.command = command;
    request.port = target.port;
    CQueuedSink queued(view, this);
    // A view that carries its calls to its own thread is called from here: one hop, not two.
    ISessionSink& sink = view.TakesCallsFromAnyThread() ? view : queued;
    // Counted, then shown: the unit's end is its last word, on the sink's route.
    auto ended = [&](const SessionResult& result, int retryInMs) {
        if (tally) tally->Ended(result, retryInMs);
        StationEvent event{StationEvent::UNIT_ENDED};
        event.result = result;
        event.retryInMs = retryInMs;
        sink.Station(event);
        QMetaObject::invokeMethod(
            this,
            [this, result, retryInMs] {
                m_results.push_back(result);
                if (onResult) onResult(result, retryInMs);
            },
            Qt::QueuedConnection);
    };
    const size_t index = firstTarget + job.target;
    if (tally) tally->Started(index);
    if (!request.repeat) {
        SessionResult result = RunUnit(request, target, index, job.attempt, sink);
        int retryInMs = RetryDelayMs(result, job.attempt);
        // Posted before it is queued again: its next start reaches the front end after this end.
        ended(result, retryInMs);
        m_queue->Done(job, retryInMs >= 0, std::chrono::milliseconds(std::max(retryInMs, 0)));
        return;
    }
    bool recordLost = false;
    CStation station(request, target.device, sink, enterKey, serials, index,
                     target.unit.empty() ? target.port : target.unit);
    bool started = station.Run(
        [&](const std::string& serial) {
            PortTarget unit = target;
            unit.serial = serial;
            // A station's unit stays on its port: one that failed is tried again there after the back-off.
            for (int attempt = 1;; ++attempt) {
                SessionResult result = RunUnit(request, unit, index, attempt, sink);
                recordLost = !result.recordLost.empty();
                int retryInMs = recordLost ? -1 : RetryDelayMs(result, attempt);
                ended(result, retryInMs);
                if (retryInMs < 0) return result;
                const int seconds = (retryInMs + 999) / 1000;
                sink.Status("Trying the keypad again in " + std::to_string(seconds) + " s");
                StationEvent backOff{StationEvent::RETRY_BACKOFF};
                backOff.seconds = seconds;
                sink.Station(backOff);
                if (!PauseUnlessStopped(retryInMs)) {
                    if (tally) tally->Ended(result, -1);  // stopped in the back-off: the unit counts by this attempt
                    return result;
                }
            }
        },
        // A unit whose record is lost ends its station: a line goes on only with its records.
        [&] { return !m_stop && !recordLost; });
    if (!started) {
        // No unit, no record: only its exit code.
        sink.Station({StationEvent::PORT_UNOPENED});
        SessionResult refused;
        refused.port = target.port;
        refused.target = index;
        refused.exitCode = EXIT_USAGE;
        QMetaObject::invokeMethod(
            this, [this, refused] { m_results.push_back(refused); }, Qt::QueuedConnection);
    }
    m_queue->Done(job, false, {});
}

// Nothing changed (1, 2) or left half-written (3): another attempt may
// succeed. An interruption is the user's word and is never retried.
int CGangRunner::RetryDelayMs(const SessionResult& result, int attempt) const {
    bool retriable =
        result.exitCode == EXIT_FAILED || result.exitCode == EXIT_USAGE || result.exitCode == EXIT_INCOMPLETE;
    if (!retriable || attempt > retries || m_stop) return -1;
    long long delay = static_cast<long long>(retryDelayMs) << std::min(attempt - 1, 20);
    return static_cast<int>(std::min(delay, static_cast<long long>(MOST_RETRY_DELAY_MS)));
}

bool CGangRunner::PauseUnlessStopped(int ms) const {
    QElapsedTimer waited;
    waited.start();
    while (!m_stop && waited.elapsed() < ms) QThread::msleep(std::min<qint64>(50, ms - waited.elapsed()));
    return !m_stop;
}

void CGangRunner::Work(CJobQueue& queue, const std::vector<PortTarget>& targets, KeypadCommand command,
                       const std::vector<ISessionSink*>& sinks) {
    CJobQueue::Job job;
    while (queue.Take(job)) {
        QMetaObject::invokeMethod(
            this,
            [this, target = job.target] {
                if (onStarted) onStarted(target);
            },
            Qt::QueuedConnection);
        RunPort(targets[job.target], job, command, *sinks[job.target]);
    }
}

std::vector<SessionResult> CGangRunner::Run(const std::vector<PortTarget>& targets, KeypadCommand command,
                                            const std::vector<ISessionSink*>& sinks) {
    CJobQueue queue(targets.size());
    {
        // Interrupt reaches the queue from another thread (a window's Stop): only under the mutex.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue = &queue;
        if (m_stop) queue.Stop();
    }
    QEventLoop loop;
    std::vector<QThread*> threads;
    // Workers, not a thread a keypad: a fleet of hundreds holds only `jobs` threads and ports.
    size_t running = std::min(targets.size(), static_cast<size_t>(std::max(jobs, 1)));
    for (size_t i = 0, count = running; i < count; ++i) {
        QThread* thread =
            QThread::create([this, &queue, &targets, command, &sinks] { Work(queue, targets, command, sinks); });
        // Queued behind everything the thread's sink posted before it ended.
        connect(
            thread, &QThread::finished, this,
            [&] {
                if (--running == 0) loop.quit();
            },
            Qt::QueuedConnection);
        threads.push_back(thread);
        thread->start();
    }
    if (running > 0) loop.exec();
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue = nullptr;
    return m_results;
}

int CGangRunner::Interrupt(int exitCode) {
    m_interruptExit = exitCode;
    m_stop = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue) m_queue->Stop();
    for (CKeypadSession* host : m_hosts)
        QMetaObject::invokeMethod(
            host, [host, exitCode] { host->Interrupt(exitCode); }, Qt::QueuedConnection);
    return static_cast<int>(m_hosts.size());
}

// A session that starts after the stop call is stopped before it sends anything.
void CGangRunner::Register(CKeypadSession* host) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hosts.push_back(host);
    if (m_stop) host->Interrupt(m_interruptExit);
}

void CGangRunner::Unregister(CKeypadSession* host) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase(m_hosts, host);
}

int CombinedExitCode(const std::vector<SessionResult>& results, int interruptExit) {
    if (interruptExit) return interruptExit;
    int code = EXIT_OK;
    for (const SessionResult& r : results) code = MoreSeriousExit(code, r.exitCode);
    return code;
}

#include "gang_runner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <algorithm>

#include "keypad_session.h"
#include "queued_sink.h"
#include "station.h"

SessionResult CGangRunner::RunSession(const SessionRequest& request, const std::string& device, ISessionSink& view) {
    CKeypadSession host(request, view, m_policy);
    Register(&host);
    host.Run(device);  // a signal already taken stops it before anything is sent
    Unregister(&host);
    return host.Result();
}

void CGangRunner::RunPort(const PortTarget& target, const CJobQueue::Job& job, KeypadCommand command,
                          ISessionSink& view) {
    SessionRequest request = m_request;
    request.command = command;
    request.port = target.port;
    CQueuedSink queued(view, this);
    // A view that carries its calls to its own thread is called from here: one hop, not two.
    ISessionSink& sink = view.TakesCallsFromAnyThread() ? view : queued;
    // A unit's result is recorded; a station that could not start leaves none, only its exit code.
    auto post = [this](const SessionResult& result, bool record, int retryInMs) {
        QMetaObject::invokeMethod(
            this,
            [this, result, record, retryInMs] {
                m_results.push_back(result);
                if (record && onResult) onResult(result, retryInMs);
            },
            Qt::QueuedConnection);
    };
    auto unit = [&](int attempt) {
        SessionResult result = RunSession(request, target.device, sink);
        if (!target.device.empty()) result.port = target.port;
        result.unit = target.unit;
        result.attempt = attempt;
        return result;
    };
    if (!request.repeat) {
        SessionResult result = unit(job.attempt);
        int retryInMs = RetryDelayMs(result, job.attempt);
        // Posted before it is queued again: its next start reaches the front end after this end.
        post(result, true, retryInMs);
        m_queue->Done(job, retryInMs >= 0, std::chrono::milliseconds(std::max(retryInMs, 0)));
        return;
    }
    CStation station(request, target.device, sink, enterKey);
    bool started = station.Run(
        [&] {
            // A station's unit stays on its port: one that failed is tried again there after the back-off.
            for (int attempt = 1;; ++attempt) {
                SessionResult result = unit(attempt);
                int retryInMs = RetryDelayMs(result, attempt);
                post(result, true, retryInMs);
                if (retryInMs < 0) return result;
                sink.Status("Trying the keypad again in " + std::to_string((retryInMs + 999) / 1000) + " s");
                if (!PauseUnlessStopped(retryInMs)) return result;
            }
        },
        [this] { return !m_stop; });
    if (!started) {
        SessionResult refused;
        refused.port = target.port;
        refused.exitCode = EXIT_USAGE;
        post(refused, false, -1);
    }
    m_queue->Done(job, false, {});
}

// Nothing changed (1, 2) or left half-written (3): another attempt may
// succeed. An interruption is the user's word and is never retried.
int CGangRunner::RetryDelayMs(const SessionResult& result, int attempt) const {
    bool retriable = result.exitCode == EXIT_FAILED || result.exitCode == EXIT_USAGE ||
                     result.exitCode == EXIT_INCOMPLETE;
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
            this, [this, target = job.target] { if (onStarted) onStarted(target); }, Qt::QueuedConnection);
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
        QThread* thread = QThread::create([this, &queue, &targets, command, &sinks] { Work(queue, targets, command, sinks); });
        // Queued behind everything the thread's sink posted before it ended.
        connect(thread, &QThread::finished, this, [&] {
            if (--running == 0) loop.quit();
        }, Qt::QueuedConnection);
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
        QMetaObject::invokeMethod(host, [host, exitCode] { host->Interrupt(exitCode); }, Qt::QueuedConnection);
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

#include "gang_runner.h"

#include <QEventLoop>
#include <QThread>

#include "keypad_session.h"
#include "queued_sink.h"
#include "station.h"

int CGangRunner::RunSession(const SessionRequest& request, const std::string& device, ISessionSink& view,
                            bool update, SessionResult* result) {
    CKeypadSession host(request, view, m_policy);
    Register(&host, update);
    int code = host.Run(device);  // a signal already taken stops it before anything is sent
    Unregister(&host);
    if (result) *result = host.Result();
    return code;
}

void CGangRunner::RunPort(const PortTarget& target, KeypadCommand command, ISessionSink& view) {
    SessionRequest request = m_request;
    request.command = command;
    request.port = target.port;
    CQueuedSink sink(view, this);
    // A unit's result is recorded; a station that could not start leaves none, only its exit code.
    auto post = [this](const SessionResult& result, bool record) {
        QMetaObject::invokeMethod(
            this,
            [this, result, record] {
                m_results.push_back(result);
                if (record && onResult) onResult(result);
            },
            Qt::QueuedConnection);
    };
    auto unit = [&] {
        SessionResult result;
        RunSession(request, target.device, sink, true, &result);
        if (!target.device.empty()) result.port = target.port;
        post(result, true);
        return result;
    };
    if (!request.repeat) {
        unit();
        return;
    }
    CStation station(request, target.device, sink, enterKey);
    if (!station.Run(unit, [this] { return !m_stop; })) {
        SessionResult refused;
        refused.port = target.port;
        refused.exitCode = EXIT_USAGE;
        post(refused, false);
    }
}

std::vector<SessionResult> CGangRunner::Run(const std::vector<PortTarget>& targets, KeypadCommand command,
                                            const std::vector<ISessionSink*>& sinks) {
    QEventLoop loop;
    std::vector<QThread*> threads;
    size_t running = targets.size();
    for (size_t i = 0; i < targets.size(); ++i) {
        QThread* thread = QThread::create([this, &targets, command, &sinks, i] { RunPort(targets[i], command, *sinks[i]); });
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
    return m_results;
}

int CGangRunner::Interrupt(int exitCode) {
    m_interruptExit = exitCode;
    m_stop = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    int updates = 0;
    for (auto& [host, update] : m_hosts) {
        updates += update;
        QMetaObject::invokeMethod(host, [host = host, exitCode] { host->Interrupt(exitCode); }, Qt::QueuedConnection);
    }
    return updates;
}

// A session that starts after the stop call is stopped before it sends anything.
void CGangRunner::Register(CKeypadSession* host, bool update) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hosts.emplace_back(host, update);
    if (m_stop) host->Interrupt(m_interruptExit);
}

void CGangRunner::Unregister(CKeypadSession* host) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_hosts, [host](const auto& entry) { return entry.first == host; });
}

int CombinedExitCode(const std::vector<SessionResult>& results, int interruptExit) {
    if (interruptExit) return interruptExit;
    int code = EXIT_OK;
    for (const SessionResult& r : results) code = MoreSeriousExit(code, r.exitCode);
    return code;
}

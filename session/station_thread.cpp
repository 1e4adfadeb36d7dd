#include "station_thread.h"

#include "gang_runner.h"

CStationThread::~CStationThread() { End(); }

void CStationThread::End() {
    if (!m_thread) return;
    if (!m_stopped) Stop(EXIT_TERMINATED);  // a stop asked for keeps its exit code
    m_thread->wait();
    m_thread.reset();
}

void CStationThread::Start(const PortTarget& target, ISessionSink& view, bool startByOperator) {
    if (m_thread) return;
    m_stopExit = 0;
    m_stopped = false;
    m_thread.reset(QThread::create([this, target, &view, startByOperator] { Run(target, view, startByOperator); }));
    m_thread->setObjectName(QStringLiteral("station"));
    connect(
        m_thread.get(), &QThread::finished, this,
        [this] {
            if (!m_thread) return;  // ended already
            m_thread->wait();
            m_thread.reset();
            if (onEnded) onEnded();
        },
        Qt::QueuedConnection);
    m_thread->start();
}

void CStationThread::Stop(int exitCode) {
    if (!m_thread) return;
    m_stopped = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_runner)
        m_runner->Interrupt(exitCode);
    else
        m_stopExit = exitCode;
}

// On the station's own thread, until it is stopped.
void CStationThread::Run(const PortTarget& target, ISessionSink& view, bool startByOperator) {
    CGangRunner runner(m_request, m_policy);
    runner.jobs = 1;
    runner.retries = m_plan.retries;
    runner.retryDelayMs = m_plan.retryDelayMs;
    runner.enterKey = startByOperator ? &m_enter : nullptr;
    runner.log = m_log;
    runner.serials = m_serials;
    runner.tally = &m_tally;
    runner.firstTarget = m_index;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_runner = &runner;
        if (m_stopExit) runner.Interrupt(m_stopExit);
    }
    runner.Run({target}, m_request.command, {&view});
    std::lock_guard<std::mutex> lock(m_mutex);
    m_runner = nullptr;
}

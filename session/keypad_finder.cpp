#include "keypad_finder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>

#include "exit_code.h"
#include "gang_runner.h"

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string KeypadSearch::Problem() const {
    if (stopExit || answered.size() == 1) return "";
    if (answered.empty()) return "no keypad answered on " + JoinedNames(tried);
    return std::to_string(answered.size()) + " keypads answered: " + JoinedNames(answered);
}

std::string NoCandidatesText(const std::string& autoName) {
    return autoName == "auto" ? "no serial ports to probe" : "no device matches " + autoName.substr(5);
}

CKeypadFinder::CKeypadFinder(const SessionRequest& request, ISessionPolicy* policy)
    : m_request(request), m_policy(policy ? *policy : m_noQuestions) {
    m_request.command = KEYPAD_TEST;
    m_request.trace = false;
    m_request.repeat = false;  // a probe is one connection test, never a station
}

CKeypadFinder::~CKeypadFinder() { Cancel(); }

void CKeypadFinder::Cancel() {
    if (!m_thread) return;
    Stop(EXIT_INTERRUPTED);
    m_thread->wait();
    QCoreApplication::removePostedEvents(this);  // the answer, posted on the way out
    m_thread.reset();
}

KeypadSearch CKeypadFinder::Search(const std::vector<std::string>& ports) {
    CGangRunner runner(m_request, m_policy);
    runner.jobs = static_cast<int>(ports.size());  // every port at once, as a probe is short
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_runner = &runner;
        if (m_stopExit) runner.Interrupt(m_stopExit);
    }
    std::vector<PortTarget> targets(ports.begin(), ports.end());
    CNullSink quiet;
    std::vector<ISessionSink*> sinks(ports.size(), &quiet);
    std::vector<SessionResult> results = runner.Run(targets, KEYPAD_TEST, sinks);
    KeypadSearch search;
    search.tried = ports;
    for (const SessionResult& r : results)
        if (r.exitCode == EXIT_OK) search.answered.push_back(r.port);
    std::sort(search.answered.begin(), search.answered.end());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_runner = nullptr;
    search.stopExit = m_stopExit;
    return search;
}

void CKeypadFinder::Start(const std::vector<std::string>& ports, std::function<void(const KeypadSearch&)> done) {
    if (m_thread) return;
    m_stopExit = 0;
    m_thread.reset(QThread::create([this, ports, done] {
        KeypadSearch search = Search(ports);
        // Queued to this object: dropped if it has gone meanwhile.
        QMetaObject::invokeMethod(
            this,
            [this, search, done] {
                m_thread->wait();
                m_thread.reset();
                done(search);
            },
            Qt::QueuedConnection);
    }));
    m_thread->start();
}

KeypadSearch CKeypadFinder::Run(const std::vector<std::string>& ports) {
    KeypadSearch found;
    QEventLoop loop;
    Start(ports, [&](const KeypadSearch& search) {
        found = search;
        loop.quit();
    });
    loop.exec();
    return found;
}

void CKeypadFinder::Stop(int exitCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread || m_stopExit) return;
    m_stopExit = exitCode;
    // The runner lives on the search's thread, whose event loop waits for its probes.
    if (m_runner)
        QMetaObject::invokeMethod(m_runner, [runner = m_runner, exitCode] { runner->Interrupt(exitCode); },
                                  Qt::QueuedConnection);
}

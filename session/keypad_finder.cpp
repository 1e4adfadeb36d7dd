#include "keypad_finder.h"

#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "exit_code.h"
#include "keypad_session.h"
#include "serial/port_naming.h"

namespace {

std::mutex g_hookMutex;
std::function<void(const std::string&)> g_probeStart;

std::function<void(const std::string&)> ProbeStartHook() {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return g_probeStart;
}

// The first status a probe's session shows comes once its port has opened (or said why not).
class COpenedSink : public CNullSink {
public:
    explicit COpenedSink(std::function<void()> opened) : m_opened(std::move(opened)) {}
    void Status(const std::string&) override {
        if (m_opened) std::exchange(m_opened, {})();
    }

private:
    std::function<void()> m_opened;
};

enum ProbeState { PROBE_OPENING, PROBE_TESTING, PROBE_ENDED };

}  // namespace

void ReplaceProbeStart(std::function<void(const std::string& port)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_probeStart = std::move(hook);
}

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string KeypadSearch::Problem() const {
    if (stopExit || answered.size() == 1) return "";
    if (!answered.empty()) return std::to_string(answered.size()) + " keypads answered: " + JoinedNames(answered);
    // A port that hangs when opened may have the keypad behind it: worth a word.
    return "no keypad answered on " + JoinedNames(tried) +
           (unopened.empty() ? "" : " (" + JoinedNames(unopened) + " did not open in time)");
}

std::string NoCandidatesText(const std::string& autoName) {
    return autoName == "auto" ? "no serial ports to probe" : "no device matches " + autoName.substr(5);
}

// What a search and its probes share. A probe left behind holds it, so what it touches when it
// ends at last is still there: its request, this policy, its state; the finder and the
// caller's policy it reaches only through pointers the finder clears when it lets go.
struct CKeypadFinder::Search : ISessionPolicy {
    struct Port {
        SessionRequest request;  // with the port to probe
        ProbeState state = PROBE_OPENING;
        std::string label;  // as its result names it
        bool answered = false;
        CKeypadSession* session = nullptr;  // while it runs
    };

    // A connection test asks nothing.
    Reply ConfirmErase(const std::string&) override { return {}; }
    Reply AcceptDamagedFile(const std::string&) override { return {}; }
    int PendingInterrupt() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return stopCode ? stopCode : caller ? caller->PendingInterrupt() : 0;
    }

    // These with the lock held.
    void StopProbes(int code) {
        if (stopCode) return;
        stopCode = code;
        for (Port& port : ports)
            if (CKeypadSession* session = port.session)
                QMetaObject::invokeMethod(
                    session, [session, code] { session->Interrupt(code); }, Qt::QueuedConnection);
    }
    // The finder is done with the search: the probes still running are stopped and reach
    // nothing of the finder's from here on. Those that opened their ports close them in moments,
    // before the caller may open one again; one hanging in its open is left to end by itself.
    void LetGo(std::unique_lock<std::mutex>& lock) {
        StopProbes(EXIT_INTERRUPTED);
        finder = nullptr;
        caller = nullptr;
        probeEnded.wait_for(lock, std::chrono::seconds(1), [this] { return !Any(PROBE_TESTING); });
    }
    bool Any(ProbeState state) const {
        return std::any_of(ports.begin(), ports.end(), [state](const Port& port) { return port.state == state; });
    }

    mutable std::mutex mutex;  // guards all of it, shared with the probes' threads
    std::condition_variable probeEnded;
    std::vector<Port> ports;  // its size fixed before the first probe starts
    CKeypadFinder* finder = nullptr;
    ISessionPolicy* caller = nullptr;
    int stopCode = 0;  // what the probes were stopped with
};

CKeypadFinder::CKeypadFinder(const SessionRequest& request, ISessionPolicy* policy)
    : m_request(request), m_policy(policy) {
    m_request.command = KEYPAD_TEST;
    m_request.trace = false;
    m_request.repeat = false;  // a probe is one connection test, never a station
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &CKeypadFinder::Answer);
}

CKeypadFinder::~CKeypadFinder() { Cancel(); }

void CKeypadFinder::Cancel() {
    if (!m_search) return;
    const std::shared_ptr<Search> search = std::exchange(m_search, nullptr);
    m_deadline.stop();
    m_done = {};
    m_stopExit = 0;
    std::unique_lock<std::mutex> lock(search->mutex);
    search->LetGo(lock);
}

void CKeypadFinder::Probe(const std::shared_ptr<Search>& search, size_t index) {
    Search::Port& port = search->ports[index];
    COpenedSink sink([&] {
        std::lock_guard<std::mutex> lock(search->mutex);
        port.state = PROBE_TESTING;
    });
    SessionResult result;
    {
        CKeypadSession session(port.request, sink, *search);
        {
            std::lock_guard<std::mutex> lock(search->mutex);
            port.session = &session;
        }
        if (auto hook = ProbeStartHook()) hook(port.request.port);
        session.Run("");  // one stopped meanwhile stops before it sends anything
        std::lock_guard<std::mutex> lock(search->mutex);
        port.session = nullptr;
        result = session.Result();
    }  // its port closed
    std::lock_guard<std::mutex> lock(search->mutex);
    port.state = PROBE_ENDED;
    port.label = result.port;
    port.answered = result.exitCode == EXIT_OK;
    search->probeEnded.notify_all();
    if (CKeypadFinder* finder = search->finder)
        QMetaObject::invokeMethod(
            finder, [finder, search] { finder->ProbeEnded(search); }, Qt::QueuedConnection);
}

void CKeypadFinder::Start(const std::vector<std::string>& ports, std::function<void(const KeypadSearch&)> done) {
    if (m_search) return;
    auto search = std::make_shared<Search>();
    search->finder = this;
    search->caller = m_policy;
    for (const std::string& name : ports) {
        Search::Port port;
        port.request = m_request;
        port.request.port = name;
        search->ports.push_back(std::move(port));
    }
    m_search = search;
    m_done = std::move(done);
    m_stopExit = 0;
    m_deadline.start(DEADLINE_MS);
    // Each probe's thread deletes itself when it ends, whether or not anyone still waits for it.
    for (size_t i = 0; i < ports.size(); ++i) {
        QThread* thread = QThread::create([search, i] { Probe(search, i); });
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        thread->start();
    }
    if (ports.empty())
        QMetaObject::invokeMethod(
            this, [this, search] { ProbeEnded(search); }, Qt::QueuedConnection);
}

void CKeypadFinder::ProbeEnded(const std::shared_ptr<Search>& search) {
    if (search != m_search) return;  // a search cancelled since
    std::unique_lock<std::mutex> lock(search->mutex);
    // Stopped, a probe still hanging in its open is not waited for.
    const bool waiting = search->Any(PROBE_TESTING) || (!m_stopExit && search->Any(PROBE_OPENING));
    lock.unlock();
    if (!waiting) Answer();
}

void CKeypadFinder::Answer() {
    if (!m_search) return;
    const std::shared_ptr<Search> search = std::exchange(m_search, nullptr);
    m_deadline.stop();
    KeypadSearch found;
    {
        std::unique_lock<std::mutex> lock(search->mutex);
        search->LetGo(lock);
        for (const Search::Port& port : search->ports) {
            found.tried.push_back(port.request.port);
            if (port.state == PROBE_ENDED && port.answered) found.answered.push_back(port.label);
            if (port.state == PROBE_OPENING) found.unopened.push_back(PlainComName(port.request.port));
        }
    }
    std::sort(found.answered.begin(), found.answered.end());
    found.stopExit = std::exchange(m_stopExit, 0);
    if (const auto done = std::exchange(m_done, {})) done(found);
}

KeypadSearch CKeypadFinder::Run(const std::vector<std::string>& ports) {
    KeypadSearch found;
    QEventLoop loop;
    Start(ports, [&](const KeypadSearch& search) {
        found = search;
        loop.quit();
    });
    if (IsRunning()) loop.exec();
    return found;
}

void CKeypadFinder::Stop(int exitCode) {
    if (!m_search || m_stopExit) return;
    m_stopExit = exitCode;
    {
        std::lock_guard<std::mutex> lock(m_search->mutex);
        m_search->StopProbes(exitCode);
    }
    // Answered once those that opened their ports have closed them: maybe at once.
    QMetaObject::invokeMethod(
        this, [this, search = m_search] { ProbeEnded(search); }, Qt::QueuedConnection);
}

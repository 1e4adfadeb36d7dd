#include "record_sender.h"

#include <QString>
#include <algorithm>
#include <chrono>
#include <set>
#include <vector>

#include "record_table.h"

namespace {

constexpr size_t BATCH = 200;  // records in one transaction
constexpr int FIRST_RETRY_MS = 1000;
constexpr int LAST_RETRY_MS = 15000;
constexpr int LAST_CALL_MS = 1000;  // after Finish's time: a call under way may end

// Whether the server turned the connection down for good (no such host, user or database, a wrong or
// missing password): waiting will not help. libpq says these in words only: a connection that
// failed has no SQLSTATE.
bool ConnectionRefused(const std::string& error) {
    for (const char* permanent : {"could not translate host name", "does not exist", "authentication failed",
                                  "no password supplied", "no pg_hba.conf entry", "Driver not loaded", NO_SQL_IN_BUILD, NO_ODBC_DRIVER})
        if (error.find(permanent) != std::string::npos) return true;
    return false;
}

}  // namespace

// What the owner and the thread share: the thread keeps it alive even when left behind.
struct CRecordSender::State {
    DatabaseUrl url;
    std::string password, program, log;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<LogRecord> queue;
    std::set<QString> queued;  // the queue's ids: a record read from the log as it is queued goes once
    bool caughtUp = false;
    bool stopping = false;
    bool retryNow = false;  // try the server now, not after the back-off
    int failures = 0;       // connections tried that failed
    bool ended = false;
    size_t refused = 0;  // records the server would not take
    std::string refusedReason;
    Verdict first = DB_UNKNOWN;
    std::string firstReason;
};

CRecordSender::CRecordSender(const DatabaseUrl& url, const std::string& password, const std::string& program)
    : m_state(std::make_shared<State>()) {
    m_state->url = url;
    m_state->password = password;
    m_state->program = program;
}

CRecordSender::~CRecordSender() {
    if (!m_finished) Finish(0);
}

void CRecordSender::Start(const std::string& log) {
    m_state->log = log;
    m_state->caughtUp = log.empty();
    m_thread.reset(QThread::create(Work, m_state));
    m_thread->setObjectName(QStringLiteral("records"));
    m_thread->start();
}

CRecordSender::Verdict CRecordSender::FirstVerdict(int ms, std::string& reason) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_state->first != DB_UNKNOWN; });
    reason = m_state->firstReason;
    return m_state->first;
}

void CRecordSender::Queue(const QByteArray& line) {
    LogRecord record = MakeLogRecord(line);
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->queued.insert(record.id).second) m_state->queue.push_back(record);
    m_state->changed.notify_all();
}

size_t CRecordSender::Waiting() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->queue.size();
}

size_t CRecordSender::Refused(std::string& reason) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    reason = m_state->refusedReason;
    return m_state->refused;
}

bool CRecordSender::CaughtUp() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->caughtUp;
}

size_t CRecordSender::Finish(int ms) {
    m_finished = true;
    State& s = *m_state;
    std::unique_lock<std::mutex> lock(s.mutex);
    s.retryNow = true;
    const int failures = s.failures;
    s.changed.notify_all();
    // Done when all is sent, or when the server, tried again now, still does not answer.
    s.changed.wait_for(lock, std::chrono::milliseconds(ms),
                       [&s, failures] { return s.ended || (s.caughtUp && s.queue.empty()) || s.failures > failures; });
    s.stopping = true;
    s.changed.notify_all();
    [[maybe_unused]] bool ended =
        s.changed.wait_for(lock, std::chrono::milliseconds(LAST_CALL_MS), [&s] { return s.ended; });
    size_t waiting = s.queue.size();
    lock.unlock();
#ifndef _WIN32
    if (ended && m_thread) {
        m_thread->wait();
        return waiting;
    }
#endif
    (void)m_thread.release();  // left behind (on a server that holds it): the state lives on with it
    return waiting;
}

void CRecordSender::Work(std::shared_ptr<State> state) {
    State& s = *state;
    {
        CRecordsConnection db;
        int retryMs = FIRST_RETRY_MS;
        std::unique_lock<std::mutex> lock(s.mutex);
        // The server did not answer, or failed what it was sent: tried again after a back-off, or
        // at once when the owner is finishing.
        auto backOff = [&] {
            db.Close();
            ++s.failures;
            s.retryNow = false;
            s.changed.notify_all();
            s.changed.wait_for(lock, std::chrono::milliseconds(retryMs), [&s] { return s.stopping || s.retryNow; });
            retryMs = std::min(2 * retryMs, LAST_RETRY_MS);
        };
        while (!s.stopping) {
            std::string error;
            if (!db.IsOpen()) {
                lock.unlock();
                bool open = db.Open(s.url, s.password, s.program, error);
                lock.lock();
                if (s.first == DB_UNKNOWN) {
                    s.first = open ? DB_UP : ConnectionRefused(error) ? DB_REFUSED : DB_DOWN;
                    s.firstReason = error;
                    s.changed.notify_all();
                }
                if (!open) {
                    backOff();
                    continue;
                }
            }
            std::vector<LogRecord> batch;
            if (!s.caughtUp) {
                // Records written since are queued as well: the table takes each once.
                lock.unlock();
                std::vector<LogRecord> earlier;
                // A log that cannot be read has nothing to catch up; the table failing is tried again.
                bool compared = !ReadLogRecords(s.log, earlier, error) || db.Missing(earlier, batch, error);
                lock.lock();
                if (!compared) {
                    backOff();
                    continue;
                }
                s.caughtUp = true;
                std::erase_if(batch, [&s](const LogRecord& record) { return !s.queued.insert(record.id).second; });
                s.queue.insert(s.queue.begin(), batch.begin(), batch.end());
                batch.clear();
            }
            if (s.queue.empty()) {
                s.changed.notify_all();
                s.changed.wait(lock, [&s] { return s.stopping || !s.queue.empty(); });
                continue;
            }
            batch.assign(s.queue.begin(), s.queue.begin() + static_cast<long>(std::min(BATCH, s.queue.size())));
            lock.unlock();
            bool batchRefused = false;
            bool sent = db.Insert(batch, error, &batchRefused);
            // The server will not take the batch: a record in it is at fault. Each goes alone, and
            // one refused stays in the log only, rather than holding up every record after it.
            size_t refused = 0;
            std::string reason;
            for (size_t i = 0; batchRefused && i < batch.size(); ++i) {
                bool refusedOne = false;
                sent = db.Insert({batch[i]}, error, &refusedOne) || refusedOne;
                if (refusedOne) {
                    ++refused;
                    reason = error;
                }
                if (!sent) break;  // the connection failed meanwhile: the whole batch is tried again
            }
            lock.lock();
            if (sent && refused > 0) {
                s.refused += refused;
                s.refusedReason = reason;
            }
            if (!sent) {
                backOff();
                continue;
            }
            for (const LogRecord& record : batch) s.queued.erase(record.id);
            s.queue.erase(s.queue.begin(), s.queue.begin() + static_cast<long>(batch.size()));
            retryMs = FIRST_RETRY_MS;
            s.changed.notify_all();
        }
        lock.unlock();
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    s.ended = true;
    s.changed.notify_all();
#ifdef _WIN32
    // A thread that has used ODBC hung or faulted as it ended (seen under Wine, with whoever waited
    // for it): done with the database, it stays idle until the program ends.
    for (;;) s.changed.wait(lock);
#endif
}

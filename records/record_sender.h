#pragma once
#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <QThread>

#include "session/database_url.h"

// Sends the records to the database, after the log has them, on a thread of
// its own with its own connection: a slow, hung or stopped server holds up
// neither a keypad nor the window, and what it has not taken waits in memory
// (and in the log) until it answers again. Started, it first sends what the
// table lacks of the log's earlier records.
//
// Threads: Queue() and Waiting() from any thread; the rest on the owner's.
class CRecordSender {
public:
    enum Verdict {
        DB_UNKNOWN,  // no connection tried to its end yet
        DB_UP,       // connected: the records go in
        DB_DOWN,     // no answer (stopped, unreachable, too slow): the records wait and it is tried again
        DB_REFUSED,  // no such host, user or database, or a wrong password: waiting will not help
    };

    CRecordSender(const DatabaseUrl& url, const std::string& password, const std::string& program);
    // Finish(0) when not called before.
    ~CRecordSender();

    // Starts the thread; `log` (empty: none) is read once connected, for the records the table lacks.
    void Start(const std::string& log);
    // The first connection's outcome, waiting for it at most `ms`; `reason` says why when not DB_UP.
    Verdict FirstVerdict(int ms, std::string& reason);
    // A record's line, once on the disk.
    void Queue(const QByteArray& line);
    // Records not yet in the table (the log's earlier ones counted once compared with it).
    size_t Waiting() const;
    // Records the server would not take (`reason`: its words for the last): they are in the log only.
    size_t Refused(std::string& reason) const;
    // Whether the log's earlier records were compared with the table.
    bool CaughtUp() const;
    // Gives the thread `ms` to send what waits (trying the server again at
    // once), then stops it; one stuck in a call to a hung server is left to
    // end with the program. Returns how many records still wait.
    size_t Finish(int ms);

private:
    struct State;
    static void Work(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    // A QThread: Qt SQL's connection lives on it, and Qt ends its own threads cleanly on Windows.
    std::unique_ptr<QThread> m_thread;
    bool m_finished = false;
};

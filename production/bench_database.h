#pragma once
#include <QLabel>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "records/record_sender.h"

class CKeypadRun;

// The bench's records sent on to the profile's database: the password asked
// once while the program runs (when the password file has none), and "N
// records waiting for the database" in its label while any wait.
class CBenchDatabase {
public:
    explicit CBenchDatabase(QLabel* label);
    // Gives the sender a few seconds to send what waits; what still waits is said on stderr.
    ~CBenchDatabase();

    // The run's records sent on to `url` (empty: none) from its log; false
    // with `error` when the server turns the URL down for good.
    bool Start(const std::string& url, const std::string& log, CKeypadRun& run, std::string& error);
    // No records sent on; what waits is left in the log for the next start, and said on stderr.
    void Stop();
    // Records not yet in the database.
    size_t Waiting() const { return m_sender ? m_sender->Waiting() : 0; }

private:
    void Refresh();
    // Gives the sender `ms` to send what waits, and says what is left.
    void Finish(int ms);

    QLabel* m_label;
    QTimer m_clock;
    std::unique_ptr<CRecordSender> m_sender;
    std::string m_url, m_log;
    std::map<std::string, std::string> m_passwords;  // asked, by URL: once each while the program runs
};

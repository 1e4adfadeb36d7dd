#include "bench_database.h"

#include <QApplication>
#include <QInputDialog>
#include <QStringList>
#include <cstdio>

#include "records/records_database.h"
#include "session/keypad_run.h"

namespace {

constexpr int WAITING_CLOCK_MS = 1000;
constexpr int FINISH_SENDING_MS = 3000;

}  // namespace

CBenchDatabase::CBenchDatabase(QLabel* label) : m_label(label) {
    m_clock.setInterval(WAITING_CLOCK_MS);
    QObject::connect(&m_clock, &QTimer::timeout, m_label, [this] { Refresh(); });
}

CBenchDatabase::~CBenchDatabase() {
    m_clock.stop();
    Finish(FINISH_SENDING_MS);
}

bool CBenchDatabase::Start(const std::string& url, const std::string& log, CKeypadRun& run, std::string& error) {
    Stop();
    if (url.empty()) return true;
    m_url = url;
    m_log = log;
    auto ask = [this, &url] {
        auto known = m_passwords.find(url);
        if (known != m_passwords.end()) return known->second;
        DatabaseUrl where;
        std::string unused;  // checked with the profile
        ParseDatabaseUrl(url, where, unused);
        std::string password =
            QInputDialog::getText(m_label->window(), QStringLiteral("ORBIX Bench"),
                                  QString::fromStdString("The password of " + where.user + " for the database " +
                                                         where.host + "/" + where.database + ":"),
                                  QLineEdit::Password)
                .toStdString();
        return m_passwords[url] = password;
    };
    // A server that takes the connection and never answers keeps the bench from starting a few seconds at most.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool started = StartRecordSender(url, log, "orbix-bench", ask, m_sender, error);
    QApplication::restoreOverrideCursor();
    if (!started) {
        m_passwords.erase(url);  // perhaps mistyped: asked again when the profile is opened again
        return false;
    }
    run.ForwardRecords([sender = m_sender.get()](const QByteArray& line) { sender->Queue(line); });
    m_clock.start();
    Refresh();
    return true;
}

void CBenchDatabase::Stop() {
    m_clock.stop();
    Finish(0);
    Refresh();
}

// What waits stays in the log, and the next start on it sends it: said on stderr.
void CBenchDatabase::Finish(int ms) {
    if (!m_sender) return;
    size_t waiting = m_sender->Finish(ms);
    for (const std::string& note : EndOfRunNotes(*m_sender, waiting, m_log, m_url))
        std::fprintf(stderr, "orbix-bench: %s\n", note.c_str());
    m_sender.reset();
}

void CBenchDatabase::Refresh() {
    const size_t waiting = Waiting();
    QStringList notes;
    if (waiting > 0)
        notes << (waiting == 1 ? QStringLiteral("1 record waiting for the database")
                               : QStringLiteral("%1 records waiting for the database").arg(waiting));
    const std::string refused = m_sender ? RefusedRecordsNote(*m_sender, m_log) : "";
    if (!refused.empty()) notes << QString::fromStdString(refused);
    m_label->setText(notes.join(QStringLiteral("; ")));
    m_label->setVisible(!notes.isEmpty());
}

#include "records_database.h"

#include "password_file.h"
#include "record_table.h"

namespace {

// The connection's own time-out and a little more.
constexpr int FIRST_VERDICT_MS = 4500;

}  // namespace

int StartRecordSender(const std::string& url, const std::string& log, const std::string& program,
                      const std::function<std::string()>& askPassword, std::unique_ptr<CRecordSender>& sender,
                      std::string& error) {
    DatabaseUrl parsed;
    if (!ParseDatabaseUrl(url, parsed, error)) return 0;
    std::string password;
    if (!FindPassword(parsed, password) && askPassword) password = askPassword();
    sender = std::make_unique<CRecordSender>(parsed, password, program);
    sender->Start(log);
    std::string reason;
    if (sender->FirstVerdict(FIRST_VERDICT_MS, reason) != CRecordSender::DB_REFUSED) return 1;
    sender.reset();
    error = "the database " + parsed.Where() + " refuses the records: " + reason;
    if (reason.find("password") != std::string::npos)
        error += password.empty() ? " (" + PasswordFilePath() + " has no password for " + parsed.Where() + ")"
                                  : " (the password came from " + PasswordFilePath() + ")";
    return 0;
}

std::string RefusedRecordsNote(const CRecordSender& sender, const std::string& log) {
    std::string reason;
    size_t refused = sender.Refused(reason);
    if (refused == 0) return "";
    return "the database would not take " + std::to_string(refused) + " record(s) of " + log +
           ", which stay in the log only: " + reason;
}

std::string WaitingRecordsNote(const CRecordSender& sender, size_t waiting, const std::string& log,
                               const std::string& url) {
    std::string push = "'orbix-flash records push " + log + " --database " + url + "' sends them";
    if (!sender.CaughtUp())
        return "the database did not answer: this run's records (" + std::to_string(waiting) +
               ") and any earlier ones of " + log + " it lacks wait in the log; " + push;
    return std::to_string(waiting) + " record(s) wait for the database in " + log + "; " + push;
}

std::vector<std::string> EndOfRunNotes(const CRecordSender& sender, size_t waiting, const std::string& log,
                                       const std::string& url) {
    std::vector<std::string> notes;
    if (waiting > 0 || !sender.CaughtUp()) notes.push_back(WaitingRecordsNote(sender, waiting, log, url));
    std::string refused = RefusedRecordsNote(sender, log);
    if (!refused.empty()) notes.push_back(refused);
    return notes;
}

int PushRecords(const std::string& url, const std::vector<std::string>& logs, std::vector<PushCount>& counts,
                std::string& error) {
    DatabaseUrl parsed;
    if (!ParseDatabaseUrl(url, parsed, error)) return 0;
    std::string password;
    FindPassword(parsed, password);
    CRecordsConnection db;
    int pushed = db.Open(parsed, password, "orbix-flash", error);
    if (!pushed) error = "the database " + parsed.Where() + " cannot be reached: " + error;
    for (size_t i = 0; pushed && i < logs.size(); ++i) {
        std::vector<LogRecord> records, missing;
        pushed =
            ReadLogRecords(logs[i], records, error) && db.Missing(records, missing, error) && db.Insert(missing, error);
        if (pushed) counts.push_back({logs[i], records.size(), missing.size()});
    }
    return pushed;
}

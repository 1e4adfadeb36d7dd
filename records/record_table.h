#pragma once
#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <set>
#include <string>
#include <vector>

#include "session/database_url.h"

// The table orbix_records: a row per record of the logs, its columns the
// record's fields (the whole record too, as JSON, for fields added later), and
// record_id, the SHA-256 of the record's line as the log has it: the same
// record sent again from any log is the same row, and records of different
// units differ in their unit_id, whatever station wrote them.

// A record's line without its line end.
struct LogRecord {
    QByteArray line;
    QString id;
};
LogRecord MakeLogRecord(const QByteArray& line);

// The whole records of a log, in order; a line cut short by a crash, or not a
// record, is passed over. 0 with `error` when it cannot be read.
int ReadLogRecords(const std::string& path, std::vector<LogRecord>& records, std::string& error);

// Opens `db` (a QPSQL connection) on the URL with bounded waits: the
// connection within a few seconds, each statement within a few more, and
// makes the table when it is missing. 0 with `error`.
int OpenRecordsDatabase(QSqlDatabase& db, const DatabaseUrl& url, const std::string& password,
                        const std::string& program, std::string& error);
// Whether the server turned the connection down for good (no such host, user
// or database, a wrong or missing password): waiting will not help.
bool ConnectionRefused(const std::string& error);

// Inserts the records in one transaction, each at most once. 0 with `error`,
// and `refused` set when the server will not take them (their data, or the
// user's rights) rather than failed to answer.
int InsertRecords(QSqlDatabase& db, const std::vector<LogRecord>& records, std::string& error, bool* refused = nullptr);
// Of `records`, those the table lacks, in order. 0 with `error`.
int MissingRecords(QSqlDatabase& db, const std::vector<LogRecord>& records, std::vector<LogRecord>& missing,
                   std::string& error);

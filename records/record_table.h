#pragma once
#include <QString>
#include <string>
#include <vector>

#include "log_records.h"
#include "session/database_url.h"

// A connection to the records' database and its table orbix_records: a row
// per record of the logs, its columns the record's fields (the whole record
// too, as JSON, for fields added later), keyed by the record's id.
//
// Threads: all on the thread that made it.
class CRecordsConnection {
public:
    CRecordsConnection();
    ~CRecordsConnection();

    // Opens on the URL with bounded waits (the connection within a few
    // seconds, each statement within a few more) and makes the table when it
    // is missing. 0 with `error`.
    int Open(const DatabaseUrl& url, const std::string& password, const std::string& program, std::string& error);
    void Close();
    bool IsOpen() const;
    // Inserts the records in one transaction, each at most once. 0 with
    // `error`, and `refused` set when the server will not take them (their
    // data, or the user's rights) rather than failed to answer.
    int Insert(const std::vector<LogRecord>& records, std::string& error, bool* refused = nullptr);
    // Of `records`, those the table lacks, in order. 0 with `error`.
    int Missing(const std::vector<LogRecord>& records, std::vector<LogRecord>& missing, std::string& error);

private:
    const QString m_name;  // the connection's among Qt's
};

// What a connection on Windows says when no PostgreSQL ODBC driver is installed.
constexpr const char* NO_ODBC_DRIVER =
    "no PostgreSQL ODBC driver is installed: install psqlODBC (its \"PostgreSQL Unicode(x64)\" driver)";
// What a connection that failed says when the build has no Qt SQL.
constexpr const char* NO_SQL_IN_BUILD = "this build of the program cannot send records to a database (no Qt SQL)";

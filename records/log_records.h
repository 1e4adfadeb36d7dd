#pragma once
#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

// A record's line without its line end, and its id in the database: the
// SHA-256 (hex) of the line as the log has it. The same record sent again from
// any log is the same row; records of different units differ in their unit_id,
// whatever station wrote them.
struct LogRecord {
    QByteArray line;
    QString id;
};
LogRecord MakeLogRecord(const QByteArray& line);

// The whole records of a log, in order; a line cut short by a crash, or not a
// record, is passed over. 0 with `error` when it cannot be read.
int ReadLogRecords(const std::string& path, std::vector<LogRecord>& records, std::string& error);

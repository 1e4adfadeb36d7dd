#include "log_records.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>

LogRecord MakeLogRecord(const QByteArray& line) {
    QByteArray whole = line;
    while (whole.endsWith('\n') || whole.endsWith('\r')) whole.chop(1);
    return {whole, QString::fromLatin1(QCryptographicHash::hash(whole, QCryptographicHash::Sha256).toHex())};
}

int ReadLogRecords(const std::string& path, std::vector<LogRecord>& records, std::string& error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + ": " + file.errorString().toStdString();
        return 0;
    }
    while (!file.atEnd()) {
        LogRecord record = MakeLogRecord(file.readLine());
        if (QJsonDocument::fromJson(record.line).isObject()) records.push_back(record);
    }
    return 1;
}

#include "result_record.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSysInfo>
#include <QUuid>

#include "exit_code.h"

QString JsonText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

// What a unit's begin and its result both say: which unit, where, what and when.
QJsonObject UnitObject(const char* type, const SessionResult& r) {
    QJsonObject o;
    o["type"] = type;
    if (!r.unitId.empty()) o["unit_id"] = JsonText(r.unitId);
    o["port"] = JsonText(r.port);
    if (!r.unit.empty()) o["unit"] = JsonText(r.unit);
    if (!r.serial.empty()) o["serial"] = JsonText(r.serial);
    o["attempt"] = r.attempt;
    o["command"] = JsonText(r.command);
    o["file"] = r.file.empty() ? QJsonValue() : QJsonValue(JsonText(r.file));
    o["sha256"] = r.sha256.empty() ? QJsonValue() : QJsonValue(JsonText(r.sha256));
    o["start"] = QDateTime::fromMSecsSinceEpoch(r.startMs, Qt::UTC).toString(Qt::ISODateWithMs);
    return o;
}

}  // namespace

QJsonObject ResultObject(const SessionResult& r) {
    QJsonObject memoryId;
    if (r.firmwareIdRead) {
        memoryId["firmware_last_sector"] = r.firmwareLastSector;
        memoryId["program_index"] = static_cast<qint64>(r.programIndex);
        memoryId["tag"] = static_cast<qint64>(r.tagValue);
    }
    if (r.screensIdRead) memoryId["screens_last_sector"] = r.screensLastSector;
    QJsonObject o = UnitObject("result", r);
    o["image_length"] = static_cast<qint64>(r.imageLength);
    o["bytes_sent"] = static_cast<qint64>(r.bytesSent);
    o["outcome"] = OutcomeName(r.exitCode);
    o["exit_code"] = r.exitCode;
    o["last_text"] = JsonText(r.lastText);
    o["memory_id"] = memoryId;
    o["seconds"] = r.seconds;
    return o;
}

QByteArray JsonLine(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'; }

QJsonObject BeginObject(const SessionResult& r) { return UnitObject("begin", r); }

SessionResult BegunUnit(const std::string& port, const std::string& unit, size_t target, int attempt) {
    SessionResult r;
    r.unitId = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    r.port = port;
    r.unit = unit;
    r.target = target;
    r.attempt = attempt;
    r.startMs = QDateTime::currentMSecsSinceEpoch();
    return r;
}

RecordSource MakeRecordSource(const std::string& program, const std::string& station, const std::string& operatorName,
                              const std::string& profilePath) {
    RecordSource source;
    source.station = station.empty() ? QSysInfo::machineHostName().toStdString() : station;
    source.operatorName = operatorName;
    source.program = program + " " + ORBIX_VERSION_TEXT;
    if (profilePath.empty()) return source;
    QFile file(JsonText(profilePath));
    source.profile = QFileInfo(file).fileName().toStdString();
    if (file.open(QIODevice::ReadOnly))
        source.profileSha256 =
            QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex().toStdString();
    return source;
}

QJsonObject SourcedRecord(QJsonObject o, const RecordSource& source) {
    auto put = [&](const char* key, const std::string& value) {
        if (!value.empty()) o[key] = JsonText(value);
    };
    put("station", source.station);
    put("operator", source.operatorName);
    put("program", source.program);
    put("profile", source.profile);
    put("profile_sha256", source.profileSha256);
    return o;
}

#include "shift_report.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr const char* CUT_OFF = "no end in the log: cut off, or still running";

std::string Text(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString().toStdString(); }

// "2026-12-09T18:44:44.028Z" as the records write it, in milliseconds since 1970; others through Qt.
int64_t StartMs(const QString& iso) {
    auto digits = [&](int at, int count) {
        int value = 0;
        for (int i = at; i < at + count; ++i) {
            if (!iso[i].isDigit()) return -1;
            value = value * 10 + iso[i].digitValue();
        }
        return value;
    };
    if (iso.size() != 24 || iso[23] != u'Z') return QDateTime::fromString(iso, Qt::ISODateWithMs).toMSecsSinceEpoch();
    const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2), h = digits(11, 2), min = digits(14, 2),
              sec = digits(17, 2), ms = digits(20, 3);
    if (std::min({y, m, d, h, min, sec, ms}) < 0)
        return QDateTime::fromString(iso, Qt::ISODateWithMs).toMSecsSinceEpoch();
    // Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
    const int yy = m <= 2 ? y - 1 : y, era = yy / 400, yoe = yy - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1, doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return ((days * 24 + h) * 60 + min) * 60'000 + sec * 1000 + ms;
}

// Reads one log's records into units, keeping each slot's unit open across its attempts.
class CLogReader {
public:
    explicit CLogReader(ShiftReport& report) : m_report(report) {}
    void Line(const QByteArray& line);

private:
    struct Current {
        size_t unit = 0;
        bool open = false;  // begun, no result since
    };
    ReportUnit& UnitFor(const QJsonObject& record, bool begins);

    ShiftReport& m_report;
    std::map<std::string, Current> m_current;  // by station and slot
};

void CLogReader::Line(const QByteArray& line) {
    if (line.trimmed().isEmpty()) return;
    const QJsonObject record = QJsonDocument::fromJson(line).object();
    const std::string type = Text(record, "type");
    if (type != "result" && type != "begin") {
        ++m_report.unreadLines;
        return;
    }
    ReportUnit& unit = UnitFor(record, type == "begin");
    const int64_t start = StartMs(record.value("start").toString());
    if (unit.startMs == 0) {
        unit.startMs = start;
        unit.start = Text(record, "start");
    }
    for (auto [field, key] : {std::pair{&unit.serial, "serial"},
                              {&unit.operatorName, "operator"},
                              {&unit.command, "command"},
                              {&unit.file, "file"},
                              {&unit.sha256, "sha256"}}) {
        std::string value = Text(record, key);
        if (!value.empty()) *field = value;
    }
    if (type == "begin") {  // until its end comes, the keypad may be half-written
        unit.outcome = "incomplete";
        unit.lastText = CUT_OFF;
        unit.endMs = std::max(unit.endMs, start);
        return;
    }
    unit.attempts += 1;
    unit.outcome = Text(record, "outcome");
    unit.lastText = Text(record, "last_text");
    unit.endMs = start + static_cast<int64_t>(std::llround(record.value("seconds").toDouble() * 1000));
}

ReportUnit& CLogReader::UnitFor(const QJsonObject& record, bool begins) {
    ReportUnit seen;
    seen.station = Text(record, "station");
    seen.port = Text(record, "port");
    seen.slot = record.contains("unit") ? Text(record, "unit") : seen.port;
    const std::string key = seen.station + '\n' + seen.slot;
    const int attempt = record.value("attempt").toInt(1);
    auto found = m_current.find(key);
    bool continues = found != m_current.end() && (found->second.open ? !begins || attempt > 1 : attempt > 1);
    if (!continues) {
        m_report.units.push_back(seen);
        m_current[key] = {m_report.units.size() - 1, false};
    }
    Current& current = m_current[key];
    current.open = begins;
    return m_report.units[current.unit];
}

// The local day of a time, looked up once a quarter of an hour: every time zone changes its
// offset on a quarter hour.
class CDays {
public:
    const std::string& Of(int64_t ms) {
        std::string& day = m_days[ms / QUARTER_HOUR_MS];
        if (day.empty()) day = QDateTime::fromMSecsSinceEpoch(ms).date().toString("yyyy-MM-dd").toStdString();
        return day;
    }

private:
    static constexpr int64_t QUARTER_HOUR_MS = 15 * 60'000;
    std::map<int64_t, std::string> m_days;
};

std::vector<std::pair<std::string, int>> MostFirst(const std::map<std::string, int>& counts, int atLeast) {
    std::vector<std::pair<std::string, int>> ranked;
    for (const auto& entry : counts)
        if (entry.second >= atLeast) ranked.push_back(entry);
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return ranked;
}

void Summarise(ShiftReport& report) {
    std::map<std::string, int> reasons, serials;
    int64_t first = 0, last = 0;
    CDays days;
    for (const ReportUnit& unit : report.units) {
        report.total.Add(unit.outcome);
        report.byStation[unit.station].Add(unit.outcome);
        report.bySlot[unit.station.empty() ? unit.slot : unit.station + " / " + unit.slot].Add(unit.outcome);
        report.byImage[ReportImageName(unit.file, unit.sha256)].Add(unit.outcome);
        report.byDay[days.Of(unit.startMs)].Add(unit.outcome);
        if (unit.outcome == "failed" || unit.outcome == "incomplete") ++reasons[unit.lastText];
        if (!unit.serial.empty()) ++serials[unit.serial];
        ++report.unitsByHour[unit.startMs - unit.startMs % 3'600'000];
        first = first == 0 ? unit.startMs : std::min(first, unit.startMs);
        last = std::max(last, unit.endMs);
    }
    report.reasons = MostFirst(reasons, 1);
    report.repeatedSerials = MostFirst(serials, 2);
    // A shift shorter than a minute is taken as a minute: no rate from a single instant.
    const double hours = std::max<double>(last - first, 60'000) / 3'600'000.0;
    report.unitsPerHour = report.total.Units() / hours;
}

}  // namespace

double ReportTally::Yield() const {
    const int ended = ok + failed + incomplete;
    return ended == 0 ? 0 : 100.0 * ok / ended;
}

void ReportTally::Add(const std::string& outcome) {
    ++(outcome == "ok" ? ok : outcome == "incomplete" ? incomplete : outcome == "interrupted" ? interrupted : failed);
}

std::string ReportImageName(const std::string& file, const std::string& sha256) {
    if (file.empty()) return "(no image)";
    std::string name = file.substr(file.find_last_of("/\\") + 1);
    return sha256.empty() ? name : name + " " + sha256.substr(0, 12);
}

int ReadShiftReport(const std::vector<std::string>& logs, ShiftReport& report, std::string& error) {
    for (size_t i = 0; i < logs.size(); ++i) {
        QFile file(QString::fromStdString(logs[i]));
        if (!file.open(QIODevice::ReadOnly)) {
            error = logs[i] + ": " + file.errorString().toStdString();
            return 0;
        }
        CLogReader reader(report);
        while (!file.atEnd()) reader.Line(file.readLine());
    }
    Summarise(report);
    return 1;
}

std::string ReportSummaryLine(const ShiftReport& r) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "units %d: ok %d, failed %d, incomplete %d, interrupted %d; yield %.1f%%; %.1f units an hour",
                  r.total.Units(), r.total.ok, r.total.failed, r.total.incomplete, r.total.interrupted, r.total.Yield(),
                  r.unitsPerHour);
    return line;
}

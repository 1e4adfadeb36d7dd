#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "console_output.h"
#include "session/exit_code.h"
#include "session/result_record.h"
#include "session/shift_report.h"

namespace {

void PrintTallies(const char* heading, const std::map<std::string, ReportTally>& tallies) {
    std::printf("\n%s\n", heading);
    for (const auto& [name, t] : tallies)
        std::printf("  %-32s units %5d  ok %5d  failed %4d  incomplete %4d  yield %5.1f%%\n",
                    Printable(name.empty() ? "(unnamed)" : name).c_str(), t.Units(), t.ok, t.failed, t.incomplete,
                    t.Yield());
}

void PrintText(const ShiftReport& r) {
    std::printf("%s\n", ReportSummaryLine(r).c_str());
    PrintTallies("by station", r.byStation);
    PrintTallies("by slot", r.bySlot);
    PrintTallies("by image", r.byImage);
    PrintTallies("by day", r.byDay);
    if (!r.reasons.empty()) std::printf("\nfailure reasons\n");
    for (const auto& [text, count] : r.reasons) std::printf("  %5d  %s\n", count, Printable(text).c_str());
    if (!r.repeatedSerials.empty()) std::printf("\nserials updated more than once\n");
    for (const auto& [serial, count] : r.repeatedSerials)
        std::printf("  %-24s %d units\n", Printable(serial).c_str(), count);
}

// A CSV field: quoted when it holds a comma, a quote or a line end, and never read as a formula.
std::string Field(const std::string& text) {
    std::string field = !text.empty() && std::string("=+-@").find(text[0]) != std::string::npos ? "'" + text : text;
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void PrintCsv(const ShiftReport& r) {
    std::printf("start,station,slot,port,serial,operator,command,file,sha256,outcome,attempts,seconds,last_text\r\n");
    for (const ReportUnit& u : r.units) {
        std::string row;
        for (const std::string* field : {&u.start, &u.station, &u.slot, &u.port, &u.serial, &u.operatorName, &u.command,
                                         &u.file, &u.sha256, &u.outcome})
            row += Field(*field) + ",";
        char figures[64];
        std::snprintf(figures, sizeof figures, "%d,%.1f,", u.attempts, (u.endMs - u.startMs) / 1000.0);
        std::printf("%s%s%s\r\n", row.c_str(), figures, Field(u.lastText).c_str());
    }
}

QJsonObject TallyObject(const ReportTally& t) {
    return {{"units", t.Units()},           {"ok", t.ok},        {"failed", t.failed}, {"incomplete", t.incomplete},
            {"interrupted", t.interrupted}, {"yield", t.Yield()}};
}

QJsonObject TalliesObject(const std::map<std::string, ReportTally>& tallies) {
    QJsonObject o;
    for (const auto& [name, t] : tallies) o[JsonText(name)] = TallyObject(t);
    return o;
}

QJsonArray Counts(const std::vector<std::pair<std::string, int>>& counts, const char* key) {
    QJsonArray list;
    for (const auto& [text, count] : counts) list.append(QJsonObject{{key, JsonText(text)}, {"count", count}});
    return list;
}

void PrintJson(const ShiftReport& r) {
    QJsonObject o = TallyObject(r.total);
    o["type"] = "report";
    o["units_per_hour"] = r.unitsPerHour;
    o["by_station"] = TalliesObject(r.byStation);
    o["by_slot"] = TalliesObject(r.bySlot);
    o["by_image"] = TalliesObject(r.byImage);
    o["by_day"] = TalliesObject(r.byDay);
    o["failure_reasons"] = Counts(r.reasons, "last_text");
    o["repeated_serials"] = Counts(r.repeatedSerials, "serial");
    std::fputs(JsonLine(o).constData(), stdout);
}

}  // namespace

int PrintReport(const std::vector<std::string>& logs, ReportForm form) {
    ShiftReport report;
    std::string error;
    if (!ReadShiftReport(logs, report, error)) {
        std::fprintf(stderr, "orbix-flash: %s\n", Printable(error).c_str());
        return EXIT_USAGE;
    }
    if (report.unreadLines > 0)
        std::fprintf(stderr, "orbix-flash: left out %d line%s that hold%s no record\n", report.unreadLines,
                     report.unreadLines == 1 ? "" : "s", report.unreadLines == 1 ? "s" : "");
    (form == REPORT_CSV ? PrintCsv : form == REPORT_JSON ? PrintJson : PrintText)(report);
    return EXIT_OK;
}

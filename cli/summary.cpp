#include "summary.h"

#include <cstdio>

#include "session/exit_code.h"

namespace {
// The port last: names such as /dev/serial/by-id/... are long, and cut short
// they would no longer tell the keypads apart.
const char* const ROW = "%-11s %8s %9s %8s %8s %10s %10s  %s";
}

std::string SummaryHeader() {
    char line[160];
    std::snprintf(line, sizeof line, ROW, "OUTCOME", "TIME", "SENT", "FW-LAST", "SCR-LAST", "INDEX", "TAG", "PORT");
    return line;
}

std::string SummaryRow(const SessionResult& r) {
    char time[24], sent[24], fwLast[16] = "-", scrLast[16] = "-", index[16] = "-", tag[16] = "-";
    std::snprintf(time, sizeof time, "%.1f s", r.seconds);
    std::snprintf(sent, sizeof sent, "%u", r.bytesSent);
    if (r.firmwareIdRead) {
        std::snprintf(fwLast, sizeof fwLast, "%d", r.firmwareLastSector);
        std::snprintf(index, sizeof index, "0x%X", r.programIndex);
        std::snprintf(tag, sizeof tag, "0x%08X", r.tagValue);
    }
    if (r.screensIdRead) std::snprintf(scrLast, sizeof scrLast, "%d", r.screensLastSector);
    char line[120];
    std::snprintf(line, sizeof line, ROW, OutcomeName(r.exitCode), time, sent, fwLast, scrLast, index, tag, "");
    return line + r.port + (r.unit.empty() ? "" : " (" + r.unit + ")");
}

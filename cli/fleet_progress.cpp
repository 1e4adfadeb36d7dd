#include "fleet_progress.h"

#include <algorithm>
#include <cstdio>

#include "console_output.h"
#include "gang_view.h"
#include "json_output.h"
#include "session/exit_code.h"

std::string TargetLabel(const PortTarget& target) {
    return target.unit.empty() ? target.port : target.unit + " (" + target.port + ")";
}

CFleetProgress::CFleetProgress(const std::vector<PortTarget>& targets, bool station, bool quiet, CJsonOutput* json,
                               CGangView* gang)
    : m_targets(targets), m_station(station), m_quiet(quiet), m_json(json), m_gang(gang) {
    m_totals.total = targets.size();
    for (size_t i = 0; i < targets.size(); ++i) m_position[targets[i].port] = i;
}

void CFleetProgress::Started(size_t target) {
    ++m_totals.running;
    if (!m_gang) return;
    m_gang->Start(target);
    if (!m_station) m_gang->SetTotals(m_totals.Line());
}

void CFleetProgress::Ended(const SessionResult& result, int retryInMs) {
    bool printRows = !m_json && !m_quiet;
    if (m_station) {
        if (retryInMs < 0) m_finals.push_back(result);  // a unit tried again counts by its last attempt
        if (!printRows) return;
        if (m_gang) m_gang->PrintAbove(stdout, SummaryRow(result));
        else OutputLine(stdout, SummaryRow(result));
        return;
    }
    size_t target = m_position[result.port];
    --m_totals.running;
    m_waiting.erase(target);
    if (retryInMs < 0) {
        m_finals.push_back(result);
        ++(result.exitCode == EXIT_OK ? m_totals.ok : m_totals.failed);
    } else {
        m_waiting[target] = result;
    }
    if (m_gang) m_gang->End(target);
    ShowEnded(result, target, retryInMs);
    if (m_gang) m_gang->SetTotals(m_totals.Line());
}

// Its row above the gang view, and when it goes back in the queue, when it is tried again.
void CFleetProgress::ShowEnded(const SessionResult& result, size_t target, int retryInMs) {
    if (m_json) {
        if (retryInMs >= 0) m_json->Retry(result, retryInMs);
        return;
    }
    if (m_gang) m_gang->PrintAbove(stdout, SummaryRow(result));
    if (retryInMs < 0 || m_quiet) return;
    char note[200];
    std::snprintf(note, sizeof note, "%s: attempt %d %s; trying again in %g s", TargetLabel(m_targets[target]).c_str(),
                  result.attempt, OutcomeName(result.exitCode), retryInMs / 1000.0);
    if (m_gang) m_gang->PrintAbove(stdout, note);
    else OutputLine(stdout, note);
}

// A run stopped during a back-off: the keypads waiting for another attempt end with their last one.
void CFleetProgress::Conclude() {
    for (auto& [target, result] : m_waiting) {
        m_finals.push_back(result);
        ++m_totals.failed;
    }
    m_waiting.clear();
}

std::vector<SessionResult> CFleetProgress::Finals(bool failedFirst) {
    std::vector<SessionResult> finals = m_finals;
    std::stable_sort(finals.begin(), finals.end(), [&](const SessionResult& a, const SessionResult& b) {
        if (failedFirst && (a.exitCode == EXIT_OK) != (b.exitCode == EXIT_OK)) return a.exitCode != EXIT_OK;
        return m_position[a.port] < m_position[b.port];
    });
    return finals;
}

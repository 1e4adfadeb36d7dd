#include "fleet_progress.h"

#include <cstdio>

#include "console_output.h"
#include "gang_view.h"
#include "json_output.h"
#include "session/exit_code.h"
#include "summary.h"

void CFleetProgress::Started(size_t target) {
    if (!m_gang) return;
    m_gang->Start(target);
    if (!m_station) m_gang->SetTotals(m_tally.Totals().Line());
}

void CFleetProgress::Ended(const SessionResult& result, int retryInMs) {
    if (m_json) m_json->Result(result);
    if (m_station) {
        if (m_json || m_quiet) return;
        if (m_gang)
            m_gang->PrintAbove(stdout, SummaryRow(result));
        else
            OutputLine(stdout, SummaryRow(result));
        return;
    }
    size_t target = result.target;
    if (m_gang) m_gang->End(target);
    ShowEnded(result, target, retryInMs);
    if (m_gang) m_gang->SetTotals(m_tally.Totals().Line());
}

// Its row above the gang view, and when it goes back in the queue, when it is tried again.
void CFleetProgress::ShowEnded(const SessionResult& result, size_t target, int retryInMs) {
    if (m_json) {
        if (retryInMs >= 0) m_json->Event(result.port, RetryObject(result, retryInMs));
        return;
    }
    if (m_gang) m_gang->PrintAbove(stdout, SummaryRow(result));
    if (retryInMs < 0 || m_quiet) return;
    char note[200];
    std::snprintf(note, sizeof note, "%s: attempt %d %s; trying again in %g s", m_targets[target].Label().c_str(),
                  result.attempt, OutcomeName(result.exitCode), retryInMs / 1000.0);
    if (m_gang)
        m_gang->PrintAbove(stdout, note);
    else
        OutputLine(stdout, note);
}

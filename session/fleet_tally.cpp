#include "fleet_tally.h"

#include <algorithm>
#include <cstdio>

#include "exit_code.h"

std::string FleetTotals::Line() const {
    char line[160];
    std::snprintf(line, sizeof line, "done %zu of %zu, ok %zu, failed %zu, waiting %zu", ok + failed, total, ok,
                  failed, total - ok - failed - running);
    return line;
}

CFleetTally::CFleetTally(const std::vector<PortTarget>& targets, bool station) : m_station(station) {
    m_totals.total = targets.size();
    for (size_t i = 0; i < targets.size(); ++i) m_position[targets[i].port] = i;
}

size_t CFleetTally::Position(const std::string& port) const {
    auto found = m_position.find(port);
    return found == m_position.end() ? 0 : found->second;
}

void CFleetTally::Started(size_t) { ++m_totals.running; }

void CFleetTally::Ended(const SessionResult& result, int retryInMs) {
    if (m_station) {
        if (retryInMs < 0) m_finals.push_back(result);  // a unit tried again counts by its last attempt
        return;
    }
    size_t target = Position(result.port);
    --m_totals.running;
    m_waiting.erase(target);
    if (retryInMs < 0) {
        m_finals.push_back(result);
        ++(result.exitCode == EXIT_OK ? m_totals.ok : m_totals.failed);
    } else {
        m_waiting[target] = result;
    }
}

// A run stopped during a back-off: the keypads waiting for another attempt end with their last one.
void CFleetTally::Conclude() {
    for (auto& [target, result] : m_waiting) {
        m_finals.push_back(result);
        ++m_totals.failed;
    }
    m_waiting.clear();
}

std::vector<SessionResult> CFleetTally::Finals(bool failedFirst) const {
    std::vector<SessionResult> finals = m_finals;
    std::stable_sort(finals.begin(), finals.end(), [&](const SessionResult& a, const SessionResult& b) {
        if (failedFirst && (a.exitCode == EXIT_OK) != (b.exitCode == EXIT_OK)) return a.exitCode != EXIT_OK;
        return Position(a.port) < Position(b.port);
    });
    return finals;
}

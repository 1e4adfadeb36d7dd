#include "fleet_tally.h"

#include <algorithm>
#include <cstdio>

#include "exit_code.h"

std::string FleetTotals::Line() const {
    char line[160];
    std::snprintf(line, sizeof line, "done %zu of %zu, ok %zu, failed %zu, waiting %zu", ok + failed, total, ok, failed,
                  total - ok - failed - running);
    return line;
}

std::string FleetTotals::UnitsLine() const {
    char line[160];
    std::snprintf(line, sizeof line, "units: ok %zu, failed %zu, yield %.1f%%", ok, failed,
                  ok + failed ? 100.0 * static_cast<double>(ok) / static_cast<double>(ok + failed) : 0.0);
    return line;
}

CFleetTally::CFleetTally(const std::vector<PortTarget>& targets, bool station)
    : m_station(station), m_targets(targets.size()) {
    m_totals.total = targets.size();
}

CFleetTally& CFleetTally::operator=(const CFleetTally& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(m_mutex, other.m_mutex);
    m_station = other.m_station;
    m_totals = other.m_totals;
    m_targets = other.m_targets;
    m_finals = other.m_finals;
    m_waiting = other.m_waiting;
    return *this;
}

FleetTotals CFleetTally::Totals() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_totals;
}

FleetTotals CFleetTally::TargetTotals(size_t target) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return target < m_targets.size() ? m_targets[target] : FleetTotals{};
}

void CFleetTally::Started(size_t) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_station) ++m_totals.running;
}

void CFleetTally::Ended(const SessionResult& result, int retryInMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t target = result.target;
    if (!m_station) --m_totals.running;
    m_waiting.erase(target);
    if (retryInMs >= 0) {
        m_waiting[target] = result;
        return;
    }
    // A unit tried again counts once, by its last attempt.
    m_finals.push_back(result);
    const bool ok = result.exitCode == EXIT_OK;
    ++(ok ? m_totals.ok : m_totals.failed);
    if (target < m_targets.size()) ++(ok ? m_targets[target].ok : m_targets[target].failed);
}

// A run stopped during a back-off: the keypads waiting for another attempt end with their last one.
void CFleetTally::Conclude() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [target, result] : m_waiting) {
        m_finals.push_back(result);
        ++m_totals.failed;
        if (target < m_targets.size()) ++m_targets[target].failed;
    }
    m_waiting.clear();
}

std::vector<SessionResult> CFleetTally::Finals(bool failedFirst) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SessionResult> finals = m_finals;
    std::stable_sort(finals.begin(), finals.end(), [&](const SessionResult& a, const SessionResult& b) {
        if (failedFirst && (a.exitCode == EXIT_OK) != (b.exitCode == EXIT_OK)) return a.exitCode != EXIT_OK;
        return a.target < b.target;
    });
    return finals;
}

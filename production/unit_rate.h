#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>

// Units per hour as a bench shows it: over the last hour, or since the first
// Start when that is shorter, so the figure moves as time passes, also while
// nothing ends. Times are milliseconds since the first Start.
class CUnitRate {
public:
    static constexpr int64_t HOUR_MS = 3'600'000;

    void Ended(int64_t atMs) { m_ends.push_back(atMs); }
    void Clear() {
        m_ends.clear();
        m_any = false;
    }
    // Negative while no unit has ended.
    double PerHour(int64_t nowMs) {
        while (!m_ends.empty() && m_ends.front() <= nowMs - HOUR_MS) m_ends.pop_front();
        if (m_ends.empty() && !m_any) return -1;
        m_any = true;
        const int64_t span = std::clamp<int64_t>(nowMs, MINIMUM_SPAN_MS, HOUR_MS);
        return static_cast<double>(m_ends.size()) * HOUR_MS / static_cast<double>(span);
    }

private:
    static constexpr int64_t MINIMUM_SPAN_MS = 60'000;  // no rate from a few seconds' units
    std::deque<int64_t> m_ends;
    bool m_any = false;
};

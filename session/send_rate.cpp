#include "send_rate.h"

#include <cmath>
#include <cstdio>

void CSendRate::Begin(int64_t ms, int sent) {
    m_startMs = ms;
    m_sent = sent;
}

int CSendRate::Update(int64_t ms, int sent, int total) {
    // Every chunk but the one just sent has been answered.
    const int acknowledged = m_sent;
    m_sent = sent;
    const int64_t elapsed = ms - m_startMs;
    if (acknowledged <= 0 || elapsed <= 0) return -1;
    const double perSecond = acknowledged * 1000.0 / static_cast<double>(elapsed);
    const double seconds = std::ceil((total - acknowledged) / perSecond);
    return seconds > 1e9 ? 1000000000 : static_cast<int>(seconds);
}

std::string RemainingText(int seconds) {
    if (seconds < 0) return "---";
    char text[64];
    if (seconds < 90)
        std::snprintf(text, sizeof text, "%d second%s remaining", seconds, seconds == 1 ? "" : "s");
    else
        std::snprintf(text, sizeof text, "%d minutes remaining", (seconds + 30) / 60);
    return text;
}

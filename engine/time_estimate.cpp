// Time remaining during a data phase: a rate estimate every 401 chunks, and a
// one-second countdown on every tick in between.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "loader_engine.h"

void CLoaderEngine::StartDataPhase(int initialEstimate) {
    m_estimateTime = m_host.CurrentTime();
    m_estimateRemaining = m_image.Length();
    UpdateTimeEstimate();
    ArmTimer(TIMER_COUNTDOWN, TIMER_COUNTDOWN_MS);
    m_secondsRemaining = initialEstimate;
}

void CLoaderEngine::UpdateTimeEstimate() {
    if (m_frameCountdown != 0) {
        --m_frameCountdown;
        return;
    }
    m_frameCountdown = ESTIMATE_CHUNK_INTERVAL;
    int64_t now = m_host.CurrentTime();
    uint32_t remaining = m_image.Length() - m_dataPosition;
    uint32_t sent = m_estimateRemaining - remaining;
    int32_t elapsed = static_cast<int32_t>(now - m_estimateTime);
    double estimate = static_cast<double>(remaining) / static_cast<double>(sent) * elapsed;
    // Nothing sent (a zero rate) or a clock set back would give no sensible
    // figure; keep the conversion defined and the countdown non-negative.
    if (std::isnan(estimate) || estimate < 0) estimate = 0;
    if (estimate > INT32_MAX) estimate = INT32_MAX;
    m_estimateRemaining = remaining;
    m_secondsRemaining = static_cast<int32_t>(estimate);
    m_estimateTime = now;
}

void CLoaderEngine::OnCountdownTick() {
    if (m_mode == MODE_IDLE) {
        StopTimer(TIMER_COUNTDOWN);
        m_host.TimeRemaining(NO_TIME_REMAINING);
        return;
    }
    // The second under way counts whole.
    if (m_secondsRemaining != 0) --m_secondsRemaining;
    m_host.TimeRemaining(m_secondsRemaining < INT32_MAX ? m_secondsRemaining + 1 : INT32_MAX);
}

std::string EstimateText(int seconds) {
    if (seconds == NO_TIME_REMAINING) return "---";
    char text[64];
    if (seconds <= 60) std::snprintf(text, sizeof text, "%d second(s) remaining", seconds);
    else std::snprintf(text, sizeof text, "%d minutes remaining", (seconds - 1) / 60 + 1);
    return text;
}

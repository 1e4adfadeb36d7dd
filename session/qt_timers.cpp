#include "qt_timers.h"

void CQtTimers::SetTimer(int id, int periodMs) {
    auto& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer.get(), &QTimer::timeout, this, [this, id] { m_onTimer(id); });
    }
    timer->start(periodMs);
}

void CQtTimers::KillTimer(int id) {
    auto it = m_timers.find(id);
    if (it != m_timers.end()) it->second->stop();
}

bool CQtTimers::IsArmed(int id) const {
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

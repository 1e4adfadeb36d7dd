#include "job_queue.h"

#include <algorithm>

CJobQueue::CJobQueue(size_t count) {
    for (size_t i = 0; i < count; ++i) m_waiting.push_back({i, 1, {}});
}

bool CJobQueue::Take(Job& job) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stopped || (m_waiting.empty() && m_running == 0)) {
            m_changed.notify_all();  // the others learn that nothing is left
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        auto ready = std::find_if(m_waiting.begin(), m_waiting.end(), [now](const Job& j) { return j.ready <= now; });
        if (ready != m_waiting.end()) {
            job = *ready;
            m_waiting.erase(ready);
            ++m_running;
            return true;
        }
        if (m_waiting.empty()) {
            m_changed.wait(lock);  // a running job may yet come back as a retry
        } else {
            auto first = std::min_element(m_waiting.begin(), m_waiting.end(),
                                          [](const Job& a, const Job& b) { return a.ready < b.ready; });
            m_changed.wait_until(lock, first->ready);
        }
    }
}

void CJobQueue::Done(const Job& job, bool retry, std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_running;
    if (retry) m_waiting.push_back({job.target, job.attempt + 1, std::chrono::steady_clock::now() + delay});
    m_changed.notify_all();
}

void CJobQueue::Stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    m_changed.notify_all();
}

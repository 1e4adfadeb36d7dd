#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// The keypads of a run waiting their turn: taken in the order given by a
// bounded number of workers, with a retry going to the back of the queue and
// waiting out its back-off there while the keypads behind it go first.
class CJobQueue {
public:
    struct Job {
        size_t target = 0;
        int attempt = 1;
        std::chrono::steady_clock::time_point ready{};
    };

    explicit CJobQueue(size_t count);
    // Blocks until a job may start; false when none is left or the queue was stopped.
    bool Take(Job& job);
    // The job taken has ended; with a delay, it is queued again after it.
    void Done(const Job& job, bool retry, std::chrono::milliseconds delay);
    // Nothing more starts; workers waiting return.
    void Stop();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_waiting;
    size_t m_running = 0;
    bool m_stopped = false;
};

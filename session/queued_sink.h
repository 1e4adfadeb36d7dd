#pragma once
#include <QObject>

#include "session_sink.h"

// A session sink for a keypad whose session runs on a thread of its own: each
// call is carried to `target` on the thread of `context` (the main one), in
// order, so all printing happens in one place. The target must outlive the
// calls still on their way; this sink need not.
class CQueuedSink : public ISessionSink {
public:
    CQueuedSink(ISessionSink& target, QObject* context) : m_target(target), m_context(context) {}

    void Status(const std::string& text) override {
        Post([=, target = &m_target] { target->Status(text); });
    }
    void Waiting(const std::string& text) override {
        Post([=, target = &m_target] { target->Waiting(text); });
    }
    void Station(const StationEvent& event) override {
        Post([=, target = &m_target] { target->Station(event); });
    }
    void Range(int lower, int upper) override {
        m_posted = -1;
        Post([=, target = &m_target] { target->Range(lower, upper); });
    }
    // The engine gives the percentage after every chunk, the same one some
    // twenty times running: only a change is worth waking the main thread for.
    void Position(int position) override {
        if (position == m_posted) return;
        m_posted = position;
        Post([=, target = &m_target] { target->Position(position); });
    }
    void TimeRemaining(const std::string& text) override {
        Post([=, target = &m_target] { target->TimeRemaining(text); });
    }
    void BeginDataPhase() override {
        m_posted = -1;
        Post([target = &m_target] { target->BeginDataPhase(); });
    }
    void Finish() override {
        Post([target = &m_target] { target->Finish(); });
    }
    void Error(const std::string& text) override {
        Post([=, target = &m_target] { target->Error(text); });
    }
    void Trace(const std::string& line) override {
        Post([=, target = &m_target] { target->Trace(line); });
    }
    void NoLowLatency(const std::string& device) override {
        Post([=, target = &m_target] { target->NoLowLatency(device); });
    }
    bool TakesCallsFromAnyThread() const override { return true; }

private:
    template <typename F>
    void Post(F call) {
        QMetaObject::invokeMethod(m_context, call, Qt::QueuedConnection);
    }

    ISessionSink& m_target;
    QObject* m_context;
    int m_posted = -1;  // the last position passed on since the range was set
};

#pragma once
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

// The engine's timers as Qt timers: one per id, repeating until stopped;
// arming a running one restarts its period. Expiries go to `onTimer`.
class CQtTimers : public QObject {
public:
    explicit CQtTimers(std::function<void(int)> onTimer, QObject* parent = nullptr)
        : QObject(parent), m_onTimer(std::move(onTimer)) {}

    void SetTimer(int id, int periodMs);
    void KillTimer(int id);
    bool IsArmed(int id) const;

private:
    std::function<void(int)> m_onTimer;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
};

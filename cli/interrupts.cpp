#include "interrupts.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>

namespace {
std::atomic<QObject*> g_receiver{nullptr};

// Runs on a thread the system starts: the abort itself is queued into the main thread.
BOOL WINAPI OnConsoleEvent(DWORD type) {
    const bool closing = type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    g_caughtSignal = closing ? SIGTERM : SIGINT;
    if (QObject* receiver = g_receiver.load()) QMetaObject::invokeMethod(receiver, "interrupted", Qt::QueuedConnection);
    // A closing console ends the process once this returns: the main thread gets
    // the system's grace time to abort and exit by itself.
    if (closing) Sleep(10000);
    return TRUE;
}

class CInterruptReceiver : public QObject {
    Q_OBJECT
public:
    explicit CInterruptReceiver(std::function<void(int)> onInterrupt) : m_onInterrupt(std::move(onInterrupt)) {
        g_receiver.store(this);
    }
    ~CInterruptReceiver() override { g_receiver.store(nullptr); }
    Q_INVOKABLE void interrupted() { m_onInterrupt(128 + g_caughtSignal); }

private:
    std::function<void(int)> m_onInterrupt;
};
}  // namespace

std::unique_ptr<QObject> WatchInterrupts(std::function<void(int exitCode)> onInterrupt) {
    auto receiver = std::make_unique<CInterruptReceiver>(std::move(onInterrupt));
    if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return nullptr;
    return receiver;
}

#include "interrupts.moc"
#else
std::unique_ptr<QObject> WatchInterrupts(std::function<void(int exitCode)> onInterrupt) {
    std::signal(SIGPIPE, SIG_IGN);
    return WatchSignals({SIGINT, SIGTERM, SIGHUP}, [onInterrupt](int signo) { onInterrupt(128 + signo); });
}
#endif

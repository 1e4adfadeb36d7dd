#include "interrupts.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#else
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#endif

volatile std::sig_atomic_t g_interruptSignal = 0;

#ifdef _WIN32
namespace {
std::atomic<QObject*> g_receiver{nullptr};

// Runs on a thread the system starts: the abort itself is queued into the main thread.
BOOL WINAPI OnConsoleEvent(DWORD type) {
    const bool closing = type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    g_interruptSignal = closing ? SIGTERM : SIGINT;
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
    Q_INVOKABLE void interrupted() { m_onInterrupt(128 + g_interruptSignal); }

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
namespace {
int g_pipe[2] = {-1, -1};

void OnSignal(int signo) {
    g_interruptSignal = signo;
    char byte = 1;
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
}
}  // namespace

std::unique_ptr<QObject> WatchInterrupts(std::function<void(int exitCode)> onInterrupt) {
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe(g_pipe) != 0) return nullptr;
    fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a prompt waiting for input gives up
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    const int fd = g_pipe[0];
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [fd, onInterrupt] {
        char byte;
        if (read(fd, &byte, 1) == 1) onInterrupt(128 + g_interruptSignal);
    });
    return notifier;
}
#endif

#include "signal_watch.h"

volatile std::sig_atomic_t g_caughtSignal = 0;

#ifdef _WIN32
std::unique_ptr<QObject> WatchSignals(std::initializer_list<int>, std::function<void(int)>) { return nullptr; }
#else
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {
int g_pipe[2] = {-1, -1};

void OnSignal(int signo) {
    g_caughtSignal = signo;
    const char byte = static_cast<char>(signo);
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
}
}  // namespace

std::unique_ptr<QObject> WatchSignals(std::initializer_list<int> signos, std::function<void(int)> onSignal) {
    if (g_pipe[0] < 0) {
        if (pipe(g_pipe) != 0) return nullptr;
        // Neither end waits: the handler must not block on a full pipe (what does not fit is one
        // signal too many), nor the drain below on an empty one.
        fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
        fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    }
    // A signal that came while nobody watched is not this watcher's.
    for (char stale; read(g_pipe[0], &stale, 1) == 1;) {
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int signo : signos) sigaction(signo, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [onSignal] {
        char byte;
        if (read(g_pipe[0], &byte, 1) == 1) onSignal(static_cast<unsigned char>(byte));
    });
    return notifier;
}
#endif

#include "quit_signals.h"

#ifdef _WIN32
std::unique_ptr<QObject> WatchQuitSignals(std::function<void(int)>) { return nullptr; }
#else
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {
int g_pipe[2] = {-1, -1};

void OnSignal(int signo) {
    const char byte = static_cast<char>(signo);
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
}
}  // namespace

std::unique_ptr<QObject> WatchQuitSignals(std::function<void(int)> onSignal) {
    if (g_pipe[0] < 0 && pipe(g_pipe) != 0) return nullptr;
    fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGTERM, SIGHUP, SIGINT}) sigaction(signo, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [onSignal] {
        char byte;
        if (read(g_pipe[0], &byte, 1) == 1) onSignal(static_cast<unsigned char>(byte));
    });
    return notifier;
}
#endif

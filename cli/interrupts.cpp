#include "interrupts.h"

#include <fcntl.h>
#include <unistd.h>

volatile std::sig_atomic_t g_interruptSignal = 0;

namespace {
int g_pipe[2] = {-1, -1};

void OnSignal(int signo) {
    g_interruptSignal = signo;
    char byte = 1;
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
}
}  // namespace

int InstallInterruptHandler() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    if (pipe(g_pipe) != 0) return -1;
    fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a prompt waiting for input gives up
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return g_pipe[0];
}

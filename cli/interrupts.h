#pragma once
#include <csignal>

// Ctrl-C and SIGTERM: the handler only records the signal and writes a byte
// to a pipe; the event loop reads the pipe and aborts in an orderly way.
extern volatile std::sig_atomic_t g_interruptSignal;

// Also ignores SIGPIPE and SIGHUP: an update outlives a closed pipe, terminal
// or SSH session, and what it can no longer print is dropped (a half-written
// keypad is worse than lost lines). The read end of the pipe, or -1 when the
// handler could not be installed.
int InstallInterruptHandler();

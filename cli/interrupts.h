#pragma once
#include <csignal>

// Ctrl-C and SIGTERM: the handler only records the signal and writes a byte
// to a pipe; the event loop reads the pipe and aborts in an orderly way.
extern volatile std::sig_atomic_t g_interruptSignal;

// The read end of the pipe, or -1 when the handler could not be installed.
int InstallInterruptHandler();

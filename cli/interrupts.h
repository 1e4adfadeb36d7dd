#pragma once
#include <QObject>
#include <csignal>
#include <functional>
#include <memory>

// Ctrl-C and SIGTERM (on Windows Ctrl-C, Ctrl-Break and the console closing):
// the handler only records the signal and wakes the event loop, which calls
// `onInterrupt` with the exit code (128 + signal) and aborts in an orderly way.
extern volatile std::sig_atomic_t g_interruptSignal;

// Also ignores SIGPIPE and SIGHUP: an update outlives a closed pipe, terminal
// or SSH session, and what it can no longer print is dropped (a half-written
// keypad is worse than lost lines). Interrupts reach `onInterrupt` while the
// returned object lives; null when the handler could not be installed.
std::unique_ptr<QObject> WatchInterrupts(std::function<void(int exitCode)> onInterrupt);

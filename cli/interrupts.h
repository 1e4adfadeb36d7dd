#pragma once
#include <QObject>
#include <functional>
#include <memory>

#include "session/signal_watch.h"

// Ctrl-C and SIGTERM (on Windows Ctrl-C, Ctrl-Break and the console closing):
// the handler only records the signal (in g_caughtSignal) and wakes the event loop,
// which calls `onInterrupt` with the exit code (128 + signal) and aborts in an orderly way.
// Also ignores SIGPIPE and SIGHUP: an update outlives a closed pipe, terminal
// or SSH session, and what it can no longer print is dropped (a half-written
// keypad is worse than lost lines). Interrupts reach `onInterrupt` while the
// returned object lives; null when the handler could not be installed.
std::unique_ptr<QObject> WatchInterrupts(std::function<void(int exitCode)> onInterrupt);

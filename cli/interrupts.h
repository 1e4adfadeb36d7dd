#pragma once
#include <QObject>
#include <functional>
#include <memory>

#include "session/signal_watch.h"

// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console
// closing): the handler only records the signal (in g_caughtSignal) and wakes
// the event loop, which calls `onInterrupt` with the exit code (128 + signal)
// and aborts in an orderly way, as orbix-bench and orbix-loader end on the
// same signals: each running unit recorded interrupted, no port left locked.
// Also ignores SIGPIPE: what a closed pipe can no longer print is dropped.
// Interrupts reach `onInterrupt` while the returned object lives; null when
// the handler could not be installed.
std::unique_ptr<QObject> WatchInterrupts(std::function<void(int exitCode)> onInterrupt);

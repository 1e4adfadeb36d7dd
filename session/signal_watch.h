#pragma once
#include <QObject>
#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>

// The last signal caught (0 before any), set in the handler itself, so code that blocks outside
// the event loop (a prompt reading its answer) learns of it at once.
extern volatile std::sig_atomic_t g_caughtSignal;

// The signals named reach `onSignal` from the event loop: their handler only records the signal and
// writes it into a pipe the loop watches, so a program ends in order on its own thread. The
// handler does not restart the call it interrupts (a prompt waiting for input gives up). One
// watcher at a time, while the returned object lives; null where the system has no such signals
// or the pipe could not be made.
std::unique_ptr<QObject> WatchSignals(std::initializer_list<int> signos, std::function<void(int signo)> onSignal);

#pragma once
#include <QObject>
#include <functional>
#include <memory>

// SIGTERM, SIGHUP and SIGINT reach `onSignal` from the event loop (the handler
// only wakes it), so the window can let go of its port before it ends. Null
// where there are no such signals or the handler could not be installed.
std::unique_ptr<QObject> WatchQuitSignals(std::function<void(int signo)> onSignal);

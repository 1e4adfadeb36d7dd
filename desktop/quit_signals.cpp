#include "quit_signals.h"

#include <utility>

#include "session/signal_watch.h"

#ifdef _WIN32
std::unique_ptr<QObject> WatchQuitSignals(std::function<void(int)>) { return nullptr; }
#else
std::unique_ptr<QObject> WatchQuitSignals(std::function<void(int)> onSignal) {
    return WatchSignals({SIGTERM, SIGHUP, SIGINT}, std::move(onSignal));
}
#endif

#include "open_trial.h"

#include <map>
#include <mutex>
#include <thread>

struct OpenTrialState {
    std::mutex mutex;
    COpenTrial* waiter = nullptr;  // told when the open returns; cleared under the mutex
};

namespace {

// The tries under way, by device. Never freed: a thread may come back from its open while the
// program ends.
struct RunningTrials {
    std::mutex mutex;  // taken before any state's own
    std::map<std::string, std::shared_ptr<OpenTrialState>> byDevice;
};
RunningTrials& Running() {
    static auto* running = new RunningTrials;
    return *running;
}

}  // namespace

void COpenTrial::Run(const std::string& device, const std::shared_ptr<OpenTrialState>& state) {
    CommOpenError why = COMM_OPEN_OK;
    const int available = TryComPort(device, &why);
    RunningTrials& running = Running();
    std::lock_guard<std::mutex> runningLock(running.mutex);
    auto found = running.byDevice.find(device);
    if (found != running.byDevice.end() && found->second == state) running.byDevice.erase(found);
    std::lock_guard<std::mutex> lock(state->mutex);
    // Held while posting, so the waiter cannot go meanwhile; a posted call to an object that goes
    // before it runs is dropped by Qt.
    if (COpenTrial* waiter = state->waiter) {
        QMetaObject::invokeMethod(
            waiter, [waiter, state, available, why] { waiter->Answered(state, available, why); },
            Qt::QueuedConnection);
    }
}

void COpenTrial::Start(const std::string& device) {
    Stop();
    RunningTrials& running = Running();
    std::lock_guard<std::mutex> runningLock(running.mutex);
    std::shared_ptr<OpenTrialState>& state = running.byDevice[device];
    if (!state) {
        state = std::make_shared<OpenTrialState>();
        std::thread(Run, device, state).detach();
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    state->waiter = this;
    m_state = state;
}

void COpenTrial::Stop() {
    if (!m_state) return;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->waiter == this) m_state->waiter = nullptr;
    m_state.reset();
}

void COpenTrial::Answered(const std::shared_ptr<OpenTrialState>& state, int available, CommOpenError why) {
    if (m_state != state) return;  // an answer to a try given up since
    m_state.reset();
    Q_EMIT Tried(available, why);
}

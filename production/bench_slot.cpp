#include "bench_slot.h"

#include "session/gang_runner.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

CBenchSlot::CBenchSlot(const BenchSlot& slot, int number, const std::string& profilePath, const SessionRequest& request,
                       ISessionPolicy& policy, bool startByOperator, int retries)
    : m_slot(slot),
      m_number(number),
      m_profilePath(profilePath),
      m_request(request),
      m_policy(policy),
      m_startByOperator(startByOperator),
      m_retries(retries) {
    m_stateText = "Press Start to begin";
}

CBenchSlot::~CBenchSlot() {
    if (!m_thread) return;
    Stop(EXIT_TERMINATED);
    m_thread->wait();
}

std::string CBenchSlot::ForThisSlot(const std::string& text) const { return m_slot.name + ": " + text; }

void CBenchSlot::Show(SlotState state, const std::string& text) {
    m_state = state;
    m_stateText = text;
    if (onChanged) onChanged();
}

void CBenchSlot::Start() {
    if (m_thread) {
        if (m_startByOperator && m_awaitingStart) {
            m_awaitingStart = false;
            m_enter.Pressed();
        }
        return;
    }
    // An auto:GLOB slot is the one device matching it now.
    std::vector<PortTarget> targets;
    std::string error;
    if (!BenchSlotTargets(m_profilePath, {m_slot}, targets, error)) {
        Show(SLOT_STOPPED, ForThisSlot("stopped: " + error));
        return;
    }
    m_target = targets[0];
    m_stopReason.clear();
    m_errors.clear();
    m_errorCount = 0;
    m_awaitingStart = false;
    m_stopExit = 0;
    m_stopAsked = false;
    m_thread.reset(QThread::create([this] { Run(); }));
    m_thread->setObjectName(QStringLiteral("bench slot"));
    connect(
        m_thread.get(), &QThread::finished, this, [this] { StationEnded(); }, Qt::QueuedConnection);
    Show(SLOT_WAITING, "Put a keypad in " + m_slot.name);
    m_thread->start();
}

void CBenchSlot::Stop(int exitCode, const std::string& reason) {
    if (!m_thread) return;
    if (!reason.empty() && m_stopReason.empty()) m_stopReason = reason;
    m_stopAsked = true;
    m_enter.InputEnded();  // a station waiting for Start lets go
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_runner)
        m_runner->Interrupt(exitCode);
    else
        m_stopExit = exitCode;
}

// On the slot's own thread: a station of one port until it is stopped.
void CBenchSlot::Run() {
    CGangRunner runner(m_request, m_policy);
    runner.jobs = 1;
    runner.retries = m_retries;
    runner.enterKey = m_startByOperator ? &m_enter : nullptr;
    runner.onResult = [this](const SessionResult& result, int) {
        QMetaObject::invokeMethod(
            this, [this, result] { UnitEnded(result); }, Qt::QueuedConnection);
    };
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_runner = &runner;
        if (m_stopExit) runner.Interrupt(m_stopExit);
    }
    runner.Run({m_target}, m_request.command, {&m_figures});
    std::lock_guard<std::mutex> lock(m_mutex);
    m_runner = nullptr;
}

void CBenchSlot::Status(const std::string& text) {
    if (StartsWith(text, "Waiting for a keypad") || StartsWith(text, "Waiting for the next keypad")) {
        ClearBar();
        Show(SLOT_WAITING, (m_ok + m_failed ? "Put the next keypad in " : "Put a keypad in ") + m_slot.name);
    } else if (StartsWith(text, "Press Enter")) {
        m_awaitingStart = true;
        if (onChanged) onChanged();
    } else if (!StartsWith(text, "Waiting for the keypad to be removed")) {
        if (m_state != SLOT_UPDATING) {
            m_errors.clear();
            m_errorCount = 0;
            m_erasing = false;
            ClearBar();
        }
        Show(SLOT_UPDATING, text);
    }
}

CSlotFigures::Latest CSlotFigures::Take() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_latest;
}

void CSlotFigures::Range(int lower, int upper) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_latest.phase;
        m_latest.position = lower;
        m_latest.time.clear();
    }
    m_toMain.Range(lower, upper);
}

void CSlotFigures::Position(int position) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latest.position = position;
}

void CSlotFigures::TimeRemaining(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latest.time = text;
}

void CBenchSlot::Range(int lower, int upper) {
    m_erasing = true;  // the first range is the erase's
    ++m_phase;
    m_barHeld = false;
    m_lower = lower;
    m_upper = upper;
    m_position = lower;
    m_time.clear();
    if (onChanged) onChanged();
}

bool CBenchSlot::TakeFigures() {
    if (m_barHeld) return false;
    const CSlotFigures::Latest latest = m_figures.Take();
    if (latest.phase != m_phase || (latest.position == m_position && latest.time == m_time)) return false;
    m_position = latest.position;
    m_time = latest.time;
    return true;
}

// The first two say what happened and why ("COM Port: X not available", then the system's reason).
void CBenchSlot::Error(const std::string& text) {
    if (m_errorCount++ < 2) m_errors += (m_errors.empty() ? "" : ": ") + text;
}

std::string CBenchSlot::FailureText(const SessionResult& result) const {
    const std::string reason = !result.lastText.empty() ? result.lastText : m_errors;
    switch (result.exitCode) {
        case EXIT_INCOMPLETE:
            return ForThisSlot("the update failed (" + reason + "). " + HoldsNoValidText(m_request.command));
        case EXIT_INTERRUPTED:
        case EXIT_TERMINATED:
            return ForThisSlot(m_erasing ? "stopped. " + HoldsNoValidText(m_request.command)
                                         : "stopped before anything was sent");
        case EXIT_USAGE:
            return ForThisSlot(reason);
        default:
            return ForThisSlot("the update failed (" + reason +
                               "); the keypad is as it was: take it out and try again");
    }
}

void CBenchSlot::UnitEnded(const SessionResult& result) {
    m_time.clear();
    if (result.exitCode == EXIT_OK)
        ++m_ok;
    else
        ++m_failed;
    std::string reason;
    if (onRecord && !onRecord(result, reason)) {
        Stop(EXIT_RECORDS, ForThisSlot("stopped: its record could not be written (" + reason + ")"));
    } else if (result.portGone) {
        Stop(EXIT_USAGE,
             ForThisSlot("stopped: its port " + m_slot.port + " has gone; check the cable, then press Start"));
    }
    if (result.exitCode == EXIT_OK) {
        m_position = m_upper;
        m_barHeld = true;
        Show(SLOT_DONE, m_startByOperator ? "Done: put the next keypad in " + m_slot.name + ", then press Start"
                                          : "Done: remove the keypad from " + m_slot.name);
    } else {
        ClearBar();  // as the main window's bar after a lost port: what was sent is no longer there
        Show(SLOT_FAILED, FailureText(result));
    }
}

void CBenchSlot::ClearBar() {
    m_barHeld = true;
    m_lower = 0;
    m_upper = 100;
    m_position = 0;
}

void CBenchSlot::StationEnded() {
    m_thread->wait();
    m_thread.reset();
    m_awaitingStart = false;
    m_time.clear();
    if (m_state != SLOT_DONE) ClearBar();
    // A station that ends without being asked to could not open (or find) its port.
    if (!m_stopReason.empty())
        Show(SLOT_STOPPED, m_stopReason);
    else if (!m_stopAsked)
        Show(SLOT_STOPPED, ForThisSlot("stopped: " + (m_errors.empty() ? "its port could not be opened" : m_errors)));
    else if (m_state != SLOT_FAILED)
        Show(SLOT_IDLE, "Stopped: press Start to go on");
    if (onEnded) onEnded();
}

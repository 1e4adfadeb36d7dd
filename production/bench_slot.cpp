#include "bench_slot.h"

namespace {
// A keypad is taken out and the next put in within seconds; one still answering after this long
// was perhaps swapped quicker than the half second of silence that counts as its removal.
constexpr int NOT_SEEN_TO_LEAVE_MS = 10'000;
}  // namespace

CBenchSlot::CBenchSlot(const BenchSlot& slot, int number, CKeypadRun& run, size_t index, bool startByOperator,
                       KeypadCommand command, SerialNeed labels)
    : m_slot(slot),
      m_number(number),
      m_run(run),
      m_index(index),
      m_startByOperator(startByOperator),
      m_command(command),
      m_labels(labels) {
    m_stateText = "Press Start to begin";
    m_notSeenToLeave.setSingleShot(true);
    m_notSeenToLeave.setInterval(NOT_SEEN_TO_LEAVE_MS);
    connect(&m_notSeenToLeave, &QTimer::timeout, this, [this] {
        if (m_state == SLOT_DONE || m_state == SLOT_FAILED)
            Show(m_state, m_stateText + " The keypad was not seen to leave: take it out for a second.");
    });
}

// The station's view is this slot: the station ends first.
CBenchSlot::~CBenchSlot() { m_run.EndStation(m_index); }

std::string CBenchSlot::ForThisSlot(const std::string& text) const { return m_slot.name + ": " + text; }

std::string CBenchSlot::LabelPrompt() const {
    return "Scan the label of the keypad in " + m_slot.name +
           (m_labels == SERIAL_OPTIONAL ? " (none: press Enter)" : "");
}

// Started by the operator with labels, a station goes straight on to the next keypad: the last
// one's outcome stays shown until the next label is scanned.
bool CBenchSlot::KeepsOutcome() const {
    return m_startByOperator && m_labels != SERIAL_OFF && (m_state == SLOT_DONE || m_state == SLOT_FAILED);
}

void CBenchSlot::Answer(bool again) {
    if (!m_asking) return;
    m_asking = false;
    if (CSerialDesk* desk = m_run.Serials()) desk->Confirm(m_index, again);
    if (!again) Show(SLOT_LABEL, LabelPrompt());  // it keeps its turn
}

void CBenchSlot::Show(SlotState state, const std::string& text) {
    m_state = state;
    m_stateText = text;
    if (onChanged) onChanged();
}

int CBenchSlot::Ok() const { return static_cast<int>(m_run.Tally().TargetTotals(m_index).ok); }
int CBenchSlot::Failed() const { return static_cast<int>(m_run.Tally().TargetTotals(m_index).failed); }

void CBenchSlot::Start() {
    if (IsRunning()) {
        if (m_startByOperator && m_awaitingStart) {
            m_awaitingStart = false;
            m_run.NextUnit(m_index);
        }
        return;
    }
    m_stopReason.clear();
    m_errors.clear();
    m_errorCount = 0;
    m_awaitingStart = false;
    m_stopAsked = false;
    m_portUnopened = false;
    m_run.StartStation(m_index, m_figures, m_startByOperator);
    Show(SLOT_WAITING, "Put a keypad in " + m_slot.name);
}

void CBenchSlot::Stop(int exitCode, const std::string& reason) {
    if (!IsRunning()) return;
    if (!reason.empty() && m_stopReason.empty()) m_stopReason = reason;
    m_stopAsked = true;
    m_run.StopStation(m_index, exitCode);
}

void CBenchSlot::ShowCutOff() {
    const char* contents = m_command == KEYPAD_SCREENS ? "screens" : "firmware";
    Show(SLOT_IDLE, ForThisSlot(std::string("the last keypad here was cut off mid-update: it holds no valid ") +
                                contents + "; update it again"));
}

// The engine's words while a unit runs; what the slot is doing comes from the station's events.
void CBenchSlot::Status(const std::string& text) {
    if (m_state == SLOT_UPDATING) Show(SLOT_UPDATING, text);
}

void CBenchSlot::Station(const StationEvent& event) {
    m_notSeenToLeave.stop();
    switch (event.kind) {
        case StationEvent::WAITING_FOR_KEYPAD:
            if (KeepsOutcome()) break;
            m_serial.clear();  // its keypad has gone
            ClearBar();
            Show(SLOT_WAITING, (Ok() + Failed() ? "Put the next keypad in " : "Put a keypad in ") + m_slot.name);
            break;
        case StationEvent::WAITING_FOR_OPERATOR:
            m_awaitingStart = true;
            if (onChanged) onChanged();
            break;
        case StationEvent::WAITING_FOR_REMOVAL:
            m_notSeenToLeave.start();  // the unit's outcome stays shown
            break;
        case StationEvent::RETRY_BACKOFF:
            Show(SLOT_FAILED,
                 ForThisSlot("the update failed; trying the keypad again in " + std::to_string(event.seconds) + " s"));
            break;
        case StationEvent::UNIT_BEGUN:
            m_errors.clear();
            m_errorCount = 0;
            m_erasing = false;
            ClearBar();
            Show(SLOT_UPDATING, ForThisSlot("updating"));
            break;
        case StationEvent::UNIT_ENDED:
            UnitEnded(event.result, event.retryInMs);
            break;
        case StationEvent::PORT_UNOPENED:
            m_portUnopened = true;
            break;
        case StationEvent::WAITING_FOR_SERIAL:
            if (KeepsOutcome()) {
                m_labelAfterOutcome = true;
                if (onChanged) onChanged();
                break;
            }
            m_serial.clear();
            ClearBar();
            Show(SLOT_LABEL, LabelPrompt());
            break;
        case StationEvent::SERIAL_REFUSED:
            m_asking = false;
            Show(SLOT_LABEL, event.text + "; scan the keypad's label");
            break;
        case StationEvent::SERIAL_ASKED:
            m_asking = true;
            Show(SLOT_LABEL, event.text + ": update it again?");
            break;
        case StationEvent::SERIAL_TAKEN:
            m_asking = false;
            m_labelAfterOutcome = false;
            m_serial = event.text;
            m_erasing = false;  // the last unit's: nothing of this one is sent yet
            Show(SLOT_UPDATING, ForThisSlot("starting"));
            break;
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
            return ForThisSlot("the update failed (" + reason + "). " + HoldsNoValidText(m_command));
        case EXIT_INTERRUPTED:
        case EXIT_TERMINATED:
            return ForThisSlot(m_erasing ? "stopped. " + HoldsNoValidText(m_command)
                                         : "stopped before anything was sent");
        case EXIT_USAGE:
            return ForThisSlot(reason);
        default:
            return ForThisSlot("the update failed (" + reason +
                               "); the keypad is as it was: set it aside, or take it out and try again");
    }
}

void CBenchSlot::UnitEnded(const SessionResult& result, int retryInMs) {
    m_time.clear();
    if (onUnit) onUnit(result);
    if (!result.recordLost.empty()) {
        Stop(EXIT_RECORDS,
             ForThisSlot("stopped: a record could not be written to " + m_run.LogFile() + ": " + result.recordLost));
    } else if (result.portGone && retryInMs < 0) {
        Stop(EXIT_USAGE,
             ForThisSlot("stopped: its port " + m_slot.port + " has gone; check the cable, then press Start"));
    }
    if (result.exitCode == EXIT_OK) {
        m_position = m_upper;
        m_barHeld = true;
        Show(SLOT_DONE, !m_startByOperator
                            ? "Done: remove the keypad from " + m_slot.name
                            : "Done: put the next keypad in " + m_slot.name +
                                  (m_labels != SERIAL_OFF ? ", then scan its label" : ", then press Start"));
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
    m_notSeenToLeave.stop();
    m_awaitingStart = false;
    m_labelAfterOutcome = false;
    m_asking = false;
    m_time.clear();
    if (m_state != SLOT_DONE) ClearBar();
    if (!m_stopReason.empty())
        Show(SLOT_STOPPED, m_stopReason);
    else if (m_portUnopened)
        Show(SLOT_STOPPED, ForThisSlot("stopped: " + (m_errors.empty() ? "its port could not be opened" : m_errors)));
    else if (m_state != SLOT_FAILED)
        Show(SLOT_IDLE, "Stopped: press Start to go on");
    if (onEnded) onEnded();
}

#pragma once
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "session/bench_profile.h"
#include "session/exit_code.h"
#include "session/fleet.h"
#include "session/keypad_run.h"
#include "session/queued_sink.h"
#include "session/result_record.h"
#include "session/session_request.h"

// Where a slot stands, each with its word on the panel.
enum SlotState {
    SLOT_IDLE,     // not started
    SLOT_WAITING,  // for a keypad
    SLOT_UPDATING,
    SLOT_DONE,     // remove the keypad (or, started by the operator: the next one, then Start)
    SLOT_FAILED,   // the same, with the reason
    SLOT_STOPPED,  // its port failed or its record could not be written: the reason says which
    SLOT_LABEL,    // for its keypad's label to be scanned (or a refusal of one, or the question "again?")
};

// The session's questions on a bench: the erase is the profile's (confirmed by
// starting), a damaged file is as the operator answered once, when the bench
// was set up (on the window's thread); the stations' sessions get that answer.
class CBenchPolicy : public ISessionPolicy {
public:
    std::function<bool(const std::string& question)> ask;
    void Forget() {
        m_asked = false;
        m_accepted = false;
    }
    Reply ConfirmErase(const std::string&) override { return {ANSWER_YES, {}}; }
    Reply AcceptDamagedFile(const std::string& question) override {
        if (!m_asked.exchange(true)) m_accepted = ask && ask(question);
        return {m_accepted ? ANSWER_YES : ANSWER_NO, m_accepted ? "" : "The image is damaged."};
    }

private:
    std::atomic<bool> m_asked{false};
    std::atomic<bool> m_accepted{false};
};

// The bar's position and the time remaining as a slot's sessions last gave
// them, for the window to take at its own pace: they change several times a
// second on every slot, too often to wake the window for each. The rest is
// carried on to `toMain`, in order. Each range begins a phase, counted on both
// sides, so a figure is never shown against the range before its own.
class CSlotFigures : public ISessionSink {
public:
    struct Latest {
        unsigned phase = 0;  // ranges given so far
        int position = 0;
        std::string time;
    };

    explicit CSlotFigures(ISessionSink& toMain) : m_toMain(toMain) {}
    Latest Take() const;

    void Status(const std::string& text) override { m_toMain.Status(text); }
    void Waiting(const std::string& text) override { m_toMain.Waiting(text); }
    void Station(const StationEvent& event) override { m_toMain.Station(event); }
    void Range(int lower, int upper) override;
    void Position(int position) override;
    void TimeRemaining(const std::string& text) override;
    void BeginDataPhase() override {}
    void Finish() override { TimeRemaining({}); }
    void Error(const std::string& text) override { m_toMain.Error(text); }
    void Trace(const std::string&) override {}
    void NoLowLatency(const std::string&) override {}
    bool TakesCallsFromAnyThread() const override { return true; }

private:
    ISessionSink& m_toMain;
    mutable std::mutex m_mutex;
    Latest m_latest;
};

// One slot of the bench: its station of the run on its port, mapped onto its
// panel. What its sessions show arrives here on the main thread, in order,
// the station's events among it; the run keeps the counts and the records.
class CBenchSlot : public QObject, private ISessionSink {
public:
    // `run` is set up (or refused) and outlives the slot; `index` is its station's.
    // `labels`: each unit waits for its keypad's label (the run's serial desk).
    CBenchSlot(const BenchSlot& slot, int number, CKeypadRun& run, size_t index, bool startByOperator,
               KeypadCommand command, SerialNeed labels = SERIAL_OFF);
    ~CBenchSlot() override;  // stops the station and waits for it

    // Starts the station; started by the operator, a station waiting for its
    // next unit begins it.
    void Start();
    // Ends the station: an update running is aborted (its record is written
    // all the same). `reason`, when given, is shown as why the slot stopped.
    void Stop(int exitCode = EXIT_INTERRUPTED, const std::string& reason = "");
    // The station has ended (the run says so on this thread).
    void StationEnded();
    // The log, opened again, shows this slot's last unit began and never ended.
    void ShowCutOff();

    bool IsRunning() const { return m_run.StationRunning(m_index); }
    bool IsUpdating() const { return m_state == SLOT_UPDATING; }
    // An update that has begun erasing: stopping it leaves the keypad without valid contents.
    bool HasErased() const { return m_state == SLOT_UPDATING && m_erasing; }
    // Started by the operator and waiting for the next Start.
    bool AwaitsStart() const { return m_startByOperator && m_awaitingStart; }
    // Started by the operator, the last unit's outcome still shown: the next label scanned goes on.
    bool AwaitsLabel() const { return m_labelAfterOutcome; }
    // The serial of the unit running, or of the last one until the next is asked for.
    const std::string& Serial() const { return m_serial; }
    // A serial updated with this image before was scanned: the operator says whether to update it again.
    bool Asks() const { return m_asking; }
    void Answer(bool again);

    SlotState State() const { return m_state; }
    const std::string& Name() const { return m_slot.name; }
    const std::string& Port() const { return m_slot.port; }
    int Number() const { return m_number; }
    // The state in the program's words: what happened and what to do.
    const std::string& StateText() const { return m_stateText; }
    const std::string& TimeText() const { return m_time; }
    int BarLower() const { return m_lower; }
    int BarUpper() const { return m_upper; }
    int BarPosition() const { return m_position; }
    // Units, each counted once by its last attempt.
    int Ok() const;
    int Failed() const;

    // Takes the bar's position and the time remaining as the session last
    // gave them: true when they changed.
    bool TakeFigures();

    // Something shown changed (state, range, counts); the figures above are taken, not told.
    std::function<void()> onChanged;
    // A unit has ended, recorded (or its loss said in `result`).
    std::function<void(const SessionResult&)> onUnit;
    // The station has ended.
    std::function<void()> onEnded;

private:
    // ISessionSink, on the main thread: what CSlotFigures carries on.
    void Status(const std::string& text) override;
    void Station(const StationEvent& event) override;
    void Range(int lower, int upper) override;
    void Position(int) override {}
    void TimeRemaining(const std::string&) override {}
    void BeginDataPhase() override {}
    void Finish() override {}
    void Error(const std::string& text) override;
    void Trace(const std::string&) override {}
    void NoLowLatency(const std::string&) override {}

    void UnitEnded(const SessionResult& result, int retryInMs);
    void Show(SlotState state, const std::string& text);
    void ClearBar();
    std::string ForThisSlot(const std::string& text) const;
    std::string FailureText(const SessionResult& result) const;
    std::string LabelPrompt() const;
    bool KeepsOutcome() const;

    BenchSlot m_slot;
    int m_number;
    CKeypadRun& m_run;
    size_t m_index;
    bool m_startByOperator;
    KeypadCommand m_command;
    SerialNeed m_labels;
    CQueuedSink m_toMain{*this, this};
    CSlotFigures m_figures{m_toMain};
    bool m_stopAsked = false;
    bool m_portUnopened = false;
    QTimer m_notSeenToLeave;   // a keypad still answering long after its unit: perhaps swapped too fast to be seen
    std::string m_stopReason;  // why the slot stopped by itself
    SlotState m_state = SLOT_IDLE;
    std::string m_stateText;
    std::string m_time;
    int m_errorCount = 0;
    std::string m_errors;  // the unit's or the station's errors, for its failure's reason
    bool m_erasing = false;
    bool m_awaitingStart = false;
    bool m_labelAfterOutcome = false;
    bool m_asking = false;
    std::string m_serial;
    int m_lower = 0, m_upper = 100, m_position = 0;
    unsigned m_phase = 0;   // ranges shown, matched against the figures' own count
    bool m_barHeld = true;  // cleared or full at a unit's end: no figure moves it until the next range
};

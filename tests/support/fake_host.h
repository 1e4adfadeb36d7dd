#pragma once
// A loader host in virtual time: timers and deliveries run from a queue, the
// blocking wait advances the clock, and everything the engine shows is logged
// with the time it happened.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/loader_engine.h"

struct TimedFrame {
    int64_t ms;
    std::vector<uint8_t> bytes;
};

struct TimedText {
    int64_t ms;
    std::string text;
};

class FakeHost : public ILoaderHost {
public:
    FakeHost();
    CLoaderEngine& Engine() { return *m_engine; }
    // An update as a front end starts it: the file step, its text on the
    // status line or in a box, then, once accepted, the question and the probe.
    void UpdateFirmware();
    void UpdateScreens();

    // Virtual time.
    int64_t Now() const { return m_nowMs; }
    // Runs timers and deliveries due up to and including `ms` from now.
    void Advance(int64_t ms);
    // Runs until the engine is idle and nothing is pending, or `limitMs` passes.
    void RunUntilIdle(int64_t limitMs = 600000);
    // Delivers bytes to the engine `delayMs` from now.
    void Deliver(const std::vector<uint8_t>& bytes, int64_t delayMs = 0);
    bool TimerArmed(int id) const { return m_timers.count(id) != 0; }

    // Called for every frame the engine writes (the keypad end of the wire).
    std::function<void(const std::vector<uint8_t>&)> onWrite;

    // Answers for the dialogs.
    std::string chooseFile;     // empty: the dialog is cancelled
    int answerYes = 1;
    int acceptDamaged = 0;
    int64_t calendarBase = 1700000000;

    // What happened.
    std::vector<TimedFrame> frames;
    std::vector<std::pair<int64_t, bool>> breaks;
    std::vector<TimedText> statuses;
    std::vector<std::string> messageBoxes;
    std::vector<std::string> questions;
    std::vector<FileDialogSpec> dialogs;
    std::vector<bool> busyStates;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    std::vector<bool> showTexts;
    std::vector<int> activity;
    std::vector<TimedText> timeTexts;
    std::vector<LoaderOutcome> outcomes;
    std::map<std::string, std::string> settings;

    // ILoaderHost
    void WriteFrameToPort(const uint8_t* data, int count) override;
    void SetBreak(bool on) override { breaks.emplace_back(m_nowMs, on); }
    void SetTimer(int id, int periodMs) override { m_timers[id] = {m_nowMs + periodMs, periodMs}; }
    void KillTimer(int id) override { m_timers.erase(id); }
    void Sleep(int ms) override { m_nowMs += ms; }
    int64_t CurrentTime() override { return calendarBase + m_nowMs / 1000; }
    void ShowStatus(const std::string& text) override { statuses.push_back({m_nowMs, text}); }
    void BusyChanged(bool busy) override { busyStates.push_back(busy); }
    // Logged as the window's bars take them: sectors while erasing, then percent sent.
    void PhaseStarted(UpdatePhase phase, int first, int last) override;
    void Progress(int position, int last) override;
    void ActivityMoved(int position) override { activity.push_back(position); }
    void TimeRemaining(int seconds) override { timeTexts.push_back({m_nowMs, EstimateText(seconds)}); }
    void OperationEnded(LoaderOutcome outcome) override { outcomes.push_back(outcome); }
    int ChooseFile(const FileDialogSpec& request, std::string& chosenPath) override;
    int AskYesNo(const std::string& text) override;
    int AcceptDamagedFile(const std::string& question) override;
    int GetProfileInt(const char* key, int defaultValue) override;
    void WriteProfileInt(const char* key, int value) override { settings[key] = std::to_string(value); }
    std::string GetProfileString(const char* key, const std::string& defaultValue) override;
    void WriteProfileString(const char* key, const std::string& value) override { settings[key] = value; }

    std::string LastStatus() const { return statuses.empty() ? "" : statuses.back().text; }
    std::vector<std::string> StatusTexts() const;

private:
    struct Timer {
        int64_t due;
        int period;
    };
    struct Delivery {
        int64_t due;
        uint64_t order;
        std::vector<uint8_t> bytes;
    };
    bool RunNext(int64_t until);

    void ShowFileResult(const FileStepResult& result);

    UpdatePhase m_phase = PHASE_ERASE;
    int64_t m_nowMs = 0;
    uint64_t m_order = 0;
    std::map<int, Timer> m_timers;
    std::vector<Delivery> m_deliveries;
    std::unique_ptr<CLoaderEngine> m_engine;
};

// Reply frames written out by hand.
extern const std::vector<uint8_t> ACK_FRAME;     // F0 01 06 06
extern const std::vector<uint8_t> OK_FRAME;      // F0 01 E0 E0
extern const std::vector<uint8_t> FAILED_FRAME;  // F0 01 E1 E1

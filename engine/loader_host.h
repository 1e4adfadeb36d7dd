#pragma once
#include <cstdint>
#include <string>

#include "user_host.h"
#include "../link/frame_codec.h"

enum TimerId {
    TIMER_REPLY = 0,
    TIMER_CONNECT = 1,
    TIMER_ERASE = 2,
    TIMER_COUNTDOWN = 3,
    TIMER_SETTLE = 4,  // a finished update waits this long for the replies still owed
    TIMER_STALL = 5,   // no reply where no other timer resends
};

constexpr int TIMER_REPLY_MS = 500;
constexpr int TIMER_CONNECT_MS = 1000;
constexpr int TIMER_ERASE_MS = 6000;
constexpr int TIMER_COUNTDOWN_MS = 1010;
constexpr int TIMER_SETTLE_MS = 6000;

// How the last operation ended (the command line's exit code, a window's words).
enum LoaderOutcome {
    OUTCOME_NONE,       // nothing has ended yet
    OUTCOME_SUCCESS,    // detected, or the update completed
    OUTCOME_FAILED,     // time-out, stall, or "Failed" from the keypad
    OUTCOME_ABORTED,    // the user aborted
    OUTCOME_PORT_LOST,  // the port went away
};

// The two phases of an update that a front end shows as progress.
enum UpdatePhase {
    PHASE_ERASE,  // sectors, first to last
    PHASE_DATA,   // image bytes, 0 to the image's length
};

// A time-remaining event with no figure: nothing is being sent.
constexpr int NO_TIME_REMAINING = -1;

// The estimate as the window words it: "N second(s) remaining", "N minutes
// remaining", "---" for none.
std::string EstimateText(int seconds);

// How far the data phase has come, in whole percent, as the bars show it.
inline int PercentSent(int position, int length) {
    return length > 0 ? static_cast<uint8_t>(100.0 * position / length) : 0;
}

// Everything the engine needs from outside: the port (frames through
// IFrameWriter), time, the questions and settings (IUserHost), and where it
// reports what happens, in its own words: events, not widgets. The window,
// the keypad session and the tests each implement it.
class ILoaderHost : public IFrameWriter, public IUserHost {
public:
    // Port.
    virtual void SetBreak(bool on) = 0;

    // Time. Timers repeat until stopped; arming a running timer restarts it.
    virtual void SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;
    virtual void Sleep(int ms) = 0;        // blocks, as the waits around BREAK do
    virtual int64_t CurrentTime() = 0;     // calendar seconds

    // Events.
    virtual void ShowStatus(const std::string& text) = 0;
    // An operation began (true), or the engine is idle again (false).
    virtual void BusyChanged(bool busy) = 0;
    // Erase: sectors `first` to `last`; data: bytes 0 to the image's length.
    virtual void PhaseStarted(UpdatePhase phase, int first, int last) = 0;
    // Within the phase: the sector just erased, or the bytes sent so far; `last` as the phase began.
    virtual void Progress(int position, int last) = 0;
    // A step a reply, 0 to ACTIVITY_MAX and round again; 0 when reset.
    virtual void ActivityMoved(int position) = 0;
    // The engine's own estimate of the data phase, a second at a time:
    // seconds, or NO_TIME_REMAINING once idle.
    virtual void TimeRemaining(int seconds) = 0;
    // After BusyChanged(false): how it ended.
    virtual void OperationEnded(LoaderOutcome outcome) = 0;
};

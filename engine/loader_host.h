#pragma once
#include <cstdint>
#include <string>

#include "../image/user_host.h"
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

// Everything the engine needs from outside: the port (frames through
// IFrameWriter), time, the view, dialogs and settings (IUserHost). The window,
// the command line and the tests each implement it.
class ILoaderHost : public IFrameWriter, public IUserHost {
public:
    // Port.
    virtual void SetBreak(bool on) = 0;

    // Time. Timers repeat until stopped; arming a running timer restarts it.
    virtual void SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;
    virtual void Sleep(int ms) = 0;        // blocks, as the waits around BREAK do
    virtual int64_t CurrentTime() = 0;     // calendar seconds

    // View.
    virtual void ShowStatus(const std::string& text) = 0;
    // Operation buttons disabled and Close reading "Abort" while busy; focus to Close.
    virtual void ShowBusy(bool busy) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void SetProgressShowText(bool show) = 0;
    virtual void SetActivityPos(int position) = 0;
    virtual void ShowTimeRemaining(const std::string& text) = 0;

    // Close while idle: end the program.
    virtual void CloseWindow() = 0;
};

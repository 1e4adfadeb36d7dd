#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "keypad_model.h"

// Serves the keypad model on a pseudo-terminal: the loader opens DevicePath()
// as if it were a serial port. Replies leave when the model says they are
// due (its work and line time), measured on the monotonic clock.
class CKeypadPtyServer {
public:
    explicit CKeypadPtyServer(const KeypadConfig& config);
    ~CKeypadPtyServer();  // stops and closes

    // Creates the pseudo-terminal in raw mode. 0 with `error` set on failure.
    int Open(std::string& error);
    const std::string& DevicePath() const { return m_devicePath; }

    // Serves until Stop(), or until the update completes when exitAfterUpdate
    // is set (an execute answered, or the last screens chunk answered).
    void Serve();
    // Serve() on a thread of its own (the programs' --simulate).
    void Start();
    void Stop();
    bool exitAfterUpdate = false;
    // A jig whose keypad is swapped on its cable: once an update is over, the
    // line stays silent this long and a fresh keypad answers (-1: never), as
    // many times as swapsLeft says. The port stays open throughout. An update
    // the failCommand fault ended counts as over too, so a failed keypad is
    // taken off the cable as well.
    int swapAfterUpdateMs = -1;
    int swapsLeft = 0;
    // Called on the serving thread as a keypad is taken off the cable: what it
    // holds, and the set-up of the one that comes next (a fault, or none).
    std::function<void(const CKeypadModel& leaving, KeypadConfig& next)> onSwap;
    // The first keypad is put on the cable this long after Serve() starts.
    int firstKeypadAfterMs = 0;
    // A screens update ends with no command of its own: it counts as over
    // once the line has been quiet this long after a screens chunk.
    int screensQuietMs = 2000;
    // Serve() also returns when this descriptor becomes readable (-1: none),
    // so a program can end it from a signal handler through a self-pipe.
    int stopFd = -1;

    // What the keypad holds; read it after Stop() or once Serve() returned.
    const CKeypadModel& Model() const { return m_model; }

private:
    KeypadConfig m_config;
    CKeypadModel m_model;
    std::string m_devicePath;
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up between clients
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    void WaitUntilCollected(int64_t lastWriteNs);
    void WaitForHangUp();
};

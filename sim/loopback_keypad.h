#pragma once
#include <QThread>
#include <functional>
#include <memory>
#include <string>

#include "keypad_model.h"

class CLoopbackServer;

// Serves the keypad model on tcp://127.0.0.1:PORT from a thread of its own: the
// programs' --simulate where there are no pseudo-terminals (Windows).
class CLoopbackKeypad {
public:
    explicit CLoopbackKeypad(const KeypadConfig& config);
    ~CLoopbackKeypad();  // stops

    // Listens on a free loopback port. 0 with `error` set on failure.
    int Open(std::string& error);
    // The port to open: tcp://127.0.0.1:PORT.
    const std::string& DevicePath() const { return m_name; }
    // Answers from Open() on; Start() puts the first keypad on the cable
    // firstKeypadAfterMs from now and begins the swaps.
    void Start();
    void Stop();

    // As the pseudo-terminal keypad's: once an update is over (or a fault answered), the line
    // stays silent swapAfterUpdateMs (-1: never) and a fresh keypad answers, swapsLeft times.
    // Set them before Start().
    int swapAfterUpdateMs = -1;
    int swapsLeft = 0;
    // Called on the serving thread as a keypad is taken off the cable: the set-up of the next.
    std::function<void(const CKeypadModel& leaving, KeypadConfig& next)> onSwap;
    int firstKeypadAfterMs = 0;

private:
    friend class CLoopbackServer;
    KeypadConfig m_config;
    std::unique_ptr<CKeypadModel> m_model;
    CLoopbackServer* m_server = nullptr;  // lives on m_thread
    QThread m_thread;
    std::string m_name;
};

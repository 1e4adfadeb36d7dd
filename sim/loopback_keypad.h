#pragma once
#include <QThread>
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
    void Start() {}  // serves from Open() on
    void Stop();

private:
    std::unique_ptr<CKeypadModel> m_model;
    CLoopbackServer* m_server = nullptr;  // lives on m_thread
    QThread m_thread;
    std::string m_name;
};

#pragma once
#include <QObject>
#include <memory>
#include <string>

#include "port_check.h"

struct OpenTrialState;

// Opening a serial device may take long, or never end: a Bluetooth port connecting to its device,
// a driver that holds the open until the modem lines say a device is there (Wine's COM1 is one).
// The device is first tried (opened and closed) on a thread of its own, so that the thread the
// port lives on, a window's or a session's, waits for it only as long as it chooses. One trial a
// device at a time: a try that comes while one still hangs takes over that one's answer instead
// of leaving another thread hanging beside it.
class COpenTrial : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~COpenTrial() override { Stop(); }

    // Tried comes once, from the event loop, when the device has answered.
    void Start(const std::string& device);
    // No Tried from this try; a thread still in its open ends on its own.
    void Stop();

Q_SIGNALS:
    void Tried(int available, CommOpenError why);

private:
    // On the trial's thread: opens and closes the device, then tells the waiter.
    static void Run(const std::string& device, const std::shared_ptr<OpenTrialState>& state);
    void Answered(const std::shared_ptr<OpenTrialState>& state, int available, CommOpenError why);

    std::shared_ptr<OpenTrialState> m_state;  // of the try under way
};

#pragma once
#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

class QEventLoop;

// What a kind of port can do, told by its class (port_factory asks it): nothing above serial/
// guesses it from a port's name.
struct PortCapabilities {
    bool listed = false;          // the system's port list holds it while it is there
    bool quietCheck = false;      // IsComPortAvailable tells, without opening it, whether it would open
    bool sendsBreak = false;      // BREAK reaches the keypad
    bool asksLowLatency = false;  // opening it asks for low-latency mode: going without is worth a word
};

// A port the keypad is reached through, as the binding sees it: a serial
// device, or a serial device server on the network. Opened for the keypad's
// line: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control.
class IPortLayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // 0 when the port cannot be opened, with `reason` saying why in words a
    // user can act on.
    virtual int Open(const std::string& name, std::string& reason) = 0;
    // How an open ended: 1, or 0 with why.
    using OpenDone = std::function<void(int open, const std::string& reason)>;
    // Opens without waiting where opening takes a while (a network port
    // connects): `opened` comes once from the event loop, when the port is
    // open or will not open; where opening does not wait, before this
    // returns. Closing first ends the open without the call.
    virtual void StartOpen(const std::string& name, OpenDone opened) {
        std::string reason;
        const int open = Open(name, reason);
        opened(open, reason);
    }
    virtual bool IsOpening() const { return false; }
    // Ends an open under way at once (Ctrl-C), as interrupted; call it on the port's thread.
    // Only a port whose open waits has one to end.
    virtual void CancelOpen() {}
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // One frame, on its way at once. Writes, BREAK and reads on a closed port do nothing.
    virtual void Write(const uint8_t* data, int count) = 0;
    virtual void SetBreak(bool on) = 0;
    // Every byte waiting, removed from the port.
    virtual QByteArray Read() = 0;
    // Whether replies come in without a driver's or the network's batching delay.
    virtual bool LowLatency() const = 0;

protected:
    // Open for a port whose StartOpen waits: the wait is an event loop of its own that takes no
    // user input, and an application's quit ends the open as interrupted. -1 when the port was
    // closed before the open ended.
    int WaitForOpen(const std::string& name, std::string& reason);
    // Ends WaitForOpen's loop: the open has ended, or the port was closed under it.
    void WakeOpenWait();

Q_SIGNALS:
    // At least one byte is waiting.
    void BytesArrived();
    // The port went away while open; it is closed now. Sent once.
    void PortLost();

private:
    QEventLoop* m_waitLoop = nullptr;  // of WaitForOpen
};

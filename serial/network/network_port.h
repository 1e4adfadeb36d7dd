#pragma once
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <functional>
#include <memory>

#include "com_port_session.h"
#include "serial/port_layer.h"
#include "serial/port_naming.h"

// How long opening a network port may take, name lookup, connection and
// negotiation together.
constexpr int NETWORK_OPEN_TIMEOUT_MS = 5000;

// A keypad behind a serial device server: rfc2217://HOST:PORT (Telnet with
// serial port control: the line is set and BREAK sent as commands, 0xFF
// doubled both ways) or tcp://HOST:PORT (raw bytes; the server's own line
// settings apply and there is no BREAK, as on a pseudo-terminal). Nagle is
// off: every frame leaves at once, as the stop-and-wait protocol needs.
class CNetworkPort : public IPortLayer {
    Q_OBJECT
public:
    explicit CNetworkPort(int openTimeoutMs = NETWORK_OPEN_TIMEOUT_MS, QObject* parent = nullptr);
    // Closed before the members go: the socket reports its own end.
    ~CNetworkPort() override { Close(); }

    int Open(const std::string& name, std::string& reason) override;
    void Close() override;
    bool IsOpen() const override { return m_open; }
    void Write(const uint8_t* data, int count) override;
    void SetBreak(bool on) override;
    QByteArray Read() override;
    bool LowLatency() const override { return m_noDelay; }
    // Ends an open under way at once (Ctrl-C), as interrupted; call it on the port's thread.
    void CancelOpen();

private:
    enum WaitResult { WAIT_DONE, WAIT_TIMED_OUT, WAIT_INTERRUPTED };

    int Connect(const NetworkPortName& name, std::string& reason);
    int Negotiate(const NetworkPortName& name, std::string& reason);
    WaitResult WaitUntil(const std::function<bool()>& done);
    void OnReadyRead();
    void OnGone();
    void Send(const uint8_t* data, size_t count);

    QTcpSocket m_socket;
    int m_openTimeoutMs;
    QDeadlineTimer m_deadline;                   // of the open under way
    std::unique_ptr<CComPortSession> m_session;  // RFC 2217 only
    QByteArray m_received;                       // data not read yet
    bool m_open = false;
    bool m_noDelay = false;
    bool m_cancelled = false;
    QEventLoop* m_waitLoop = nullptr;  // of the open under way
};

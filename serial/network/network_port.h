#pragma once
#include <QTcpSocket>
#include <QTimer>
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

    // Waits for the open in an event loop of its own that takes no user input.
    int Open(const std::string& name, std::string& reason) override;
    // The same open driven by the caller's event loop, which goes on meanwhile.
    void StartOpen(const std::string& name, OpenDone opened) override;
    bool IsOpening() const override { return m_phase != OPEN_IDLE; }
    void Close() override;
    bool IsOpen() const override { return m_open; }
    void Write(const uint8_t* data, int count) override;
    void SetBreak(bool on) override;
    QByteArray Read() override;
    bool LowLatency() const override { return m_noDelay; }
    void CancelOpen() override;

    // Never listed by the system, and only connecting tells whether it opens; BREAK through RFC 2217 alone.
    static PortCapabilities Capabilities(const std::string& name);
    // "net HOST PORT" (the host in lower case), whichever the scheme.
    static std::string Identity(const std::string& name);

private:
    enum OpenPhase { OPEN_IDLE, OPEN_CONNECTING, OPEN_NEGOTIATING };

    // Looks at the socket and the negotiation after each of their events.
    void Step();
    void Connected();
    std::string ConnectFailure() const;
    std::string NegotiationFailure() const;
    void OpenTimedOut();
    void OpenEnded(int open, const std::string& reason);
    void OnReadyRead();
    void OnGone();
    void Send(const uint8_t* data, size_t count);

    QTcpSocket m_socket;
    int m_openTimeoutMs;
    OpenPhase m_phase = OPEN_IDLE;
    NetworkPortName m_name;                      // of the open under way
    OpenDone m_opened;                           // of the open under way
    QTimer m_deadline;                           // of the open under way
    QTimer m_step;                               // one look after a burst of socket events
    std::unique_ptr<CComPortSession> m_session;  // RFC 2217 only
    QByteArray m_received;                       // data not read yet
    bool m_open = false;
    bool m_noDelay = false;
};

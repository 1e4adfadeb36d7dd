#pragma once
#include <QObject>
#include <string>

#include "engine/loader_engine.h"
#include "ms_comm.h"
#include "port_naming.h"

constexpr const char* KEY_COM_PORT = "ComPort";
constexpr const char* KEY_PORT_NAME = "PortName";

// Binds the engine to one serial port: configures and opens it, writes the
// frames, switches BREAK, hands received bytes to the frame parser, and ends
// a running operation when the device goes away.
class CPortBinding : public QObject {
    Q_OBJECT
public:
    CPortBinding(CLoaderEngine& engine, IUserHost& user, QObject* parent = nullptr);

    // Uses this port instead of the settings store's (not stored).
    void SetPortOverride(const PortSpec& port) { m_override = port; m_hasOverride = true; }
    // Configures and opens the port; 1 when open. A port that cannot be
    // opened is shown in a box and on the status line.
    int OpenComPort();
    // After Preferences: reopens only when the stored port changed.
    void CheckPortAfterPreferences();

    void WriteFrameToPort(const uint8_t* data, int count) { m_comm.Output(data, count); }
    void SetBreak(bool on) { m_comm.SetBreak(on); }

    CMSComm& Comm() { return m_comm; }
    const PortSpec& PortInUse() const { return m_port; }
    // Why the last open failed, for a second line on the command line.
    std::string OpenFailureReason() const;
    // "COM Port: %d not available" for the port in use.
    std::string NotAvailableText() const;

    // Bytes as they arrive, before the parser sees them (for tracing).
    std::function<void(const QByteArray&)> onReceived;
    // After a loss has been dealt with; whether an operation was running then.
    std::function<void(bool duringOperation)> onPortLost;

private:
    void OnCommEvent();
    void OnPortLost();
    PortSpec StoredPort();

    CLoaderEngine& m_engine;
    IUserHost& m_user;
    CMSComm m_comm;
    PortSpec m_port;
    PortSpec m_override;
    bool m_hasOverride = false;
    CommOpenError m_failure = COMM_OPEN_OK;
};

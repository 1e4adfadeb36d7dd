#pragma once
#include <QObject>
#include <functional>
#include <string>

#include "engine/loader_engine.h"
#include "serial/network/network_port.h"
#include "serial/port_naming.h"
#include "serial/serial_port.h"

constexpr const char* KEY_COM_PORT = "ComPort";
constexpr const char* KEY_PORT_NAME = "PortName";

// Binds the engine to one port, a serial device or a serial device server on
// the network (the name decides): opens it, writes the frames, switches
// BREAK, hands received bytes to the frame parser, and ends a running
// operation when the port goes away.
class CPortBinding : public QObject {
    Q_OBJECT
public:
    CPortBinding(CLoaderEngine& engine, IUserHost& settings, QObject* parent = nullptr);

    // Uses this port instead of the settings store's (not stored).
    void SetPortOverride(const PortSpec& port) { m_override = port; m_hasOverride = true; }
    // Configures and opens the port; 1 when open, with "selected" on the
    // status line. 0 says nothing: the caller decides how to say "not available".
    int OpenComPort();
    // OpenComPort without waiting for a network port to connect: `opened(open)` once that is
    // known (for a device, before this returns). Another open or a close first ends it unsaid.
    void StartOpenComPort(std::function<void(int open)> opened);
    bool IsOpening() const { return m_layer->IsOpening(); }
    // After Preferences: the port to reopen differs from the one in use.
    bool StoredPortChanged();

    void WriteFrameToPort(const uint8_t* data, int count) { m_layer->Write(data, count); }
    void SetBreak(bool on) { m_layer->SetBreak(on); }
    // Ctrl-C while a network port connects: the open ends at once.
    void CancelOpen() { m_network.CancelOpen(); }

    // The port layer in use.
    IPortLayer& Comm() { return *m_layer; }
    const PortSpec& PortInUse() const { return m_port; }
    // Why the last open failed (empty once it opens), for a second line under "not available".
    const std::string& OpenFailureReason() const { return m_failure; }
    // "COM Port: %d not available" for the port in use.
    std::string NotAvailableText() const;

    // Bytes as they arrive, before the parser sees them (for tracing).
    std::function<void(const QByteArray&)> onReceived;
    // After a loss has been dealt with; whether an operation was running then.
    std::function<void(bool duringOperation)> onPortLost;

private:
    void OnBytesArrived();
    void OnPortLost(IPortLayer* layer);
    PortSpec StoredPort();
    // The stored port and its layer, the one in use closed.
    void SelectPort();
    // After the layer's open: 1 with "selected" on the status line.
    int Opened(int open);

    CLoaderEngine& m_engine;
    IUserHost& m_settings;
    CSerialPort m_serial;
    CNetworkPort m_network;
    IPortLayer* m_layer = &m_serial;
    PortSpec m_port;
    PortSpec m_override;
    bool m_hasOverride = false;
    std::string m_failure;
};

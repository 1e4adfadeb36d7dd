#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/loader_engine.h"
#include "serial/port_factory.h"
#include "serial/port_naming.h"
#include "settings_store.h"

constexpr const char* KEY_COM_PORT = "ComPort";
constexpr const char* KEY_PORT_NAME = "PortName";

// The port to open: the one a run names, else the one the settings store keeps ("PortName"
// when set, else COM "ComPort").
PortSpec ChosenPort(const std::optional<PortSpec>& requested, CSettingsStore& settings);
// "COM Port: 3 not available", or with the name the port was given.
std::string NotAvailableText(const std::string& portLabel);

// Binds the engine to one port, a serial device or a serial device server on
// the network (the name decides): opens it, writes the frames, switches
// BREAK, hands received bytes to the frame parser, and ends a running
// operation when the port goes away.
class CPortBinding : public QObject {
    Q_OBJECT
public:
    CPortBinding(CLoaderEngine& engine, CSettingsStore& settings, QObject* parent = nullptr);

    // Uses this port instead of the settings store's (not stored).
    void SetPortOverride(const PortSpec& port) { m_override = port; }
    // Configures and opens the port; 1 when open, with "selected" on the
    // status line. 0 says nothing: the caller decides how to say "not available".
    int OpenComPort();
    // OpenComPort without waiting for a network port to connect: `opened(open)` once that is
    // known (for a device, before this returns). Another open or a close first ends it unsaid.
    void StartOpenComPort(std::function<void(int open)> opened);
    // After Preferences: the port to reopen differs from the one in use.
    bool StoredPortChanged();

    bool IsOpen() const { return m_layer && m_layer->IsOpen(); }
    bool IsOpening() const { return m_layer && m_layer->IsOpening(); }
    void Close() {
        if (m_layer) m_layer->Close();
    }
    // Ctrl-C while a network port connects: the open ends at once.
    void CancelOpen() {
        if (m_layer) m_layer->CancelOpen();
    }
    // Whether replies come in without a driver's or the network's batching delay.
    bool LowLatency() const { return m_layer && m_layer->LowLatency(); }
    void WriteFrameToPort(const uint8_t* data, int count) {
        if (m_layer) m_layer->Write(data, count);
    }
    void SetBreak(bool on) {
        if (m_layer) m_layer->SetBreak(on);
    }

    const PortSpec& PortInUse() const { return m_port; }
    // Why the last open failed (empty once it opens), for a second line under "not available".
    const std::string& OpenFailureReason() const { return m_failure; }
    // NotAvailableText for the port in use.
    std::string NotAvailableText() const;

    // Bytes as they arrive, before the parser sees them (for tracing).
    std::function<void(const QByteArray&)> onReceived;
    // After a loss has been dealt with; whether an operation was running then.
    std::function<void(bool duringOperation)> onPortLost;

private:
    void OnBytesArrived();
    void OnPortLost();
    // The chosen port, the one in use closed, and a layer of its kind ready: false, with
    // why, when the name names no port.
    bool SelectPort();
    // After the layer's open: 1 with "selected" on the status line.
    int Opened(int open);

    CLoaderEngine& m_engine;
    CSettingsStore& m_settings;
    std::unique_ptr<IPortLayer> m_layer;  // none until a port is chosen
    const PortType* m_type = nullptr;     // of m_layer
    PortSpec m_port;
    std::optional<PortSpec> m_override;
    std::string m_failure;
};

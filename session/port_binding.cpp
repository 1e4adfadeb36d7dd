#include "port_binding.h"

CPortBinding::CPortBinding(CLoaderEngine& engine, IUserHost& settings, QObject* parent)
    : QObject(parent), m_engine(engine), m_settings(settings) {
    for (IPortLayer* layer : {static_cast<IPortLayer*>(&m_serial), static_cast<IPortLayer*>(&m_network)}) {
        connect(layer, &IPortLayer::BytesArrived, this, &CPortBinding::OnBytesArrived);
        // Queued: the loss can be noticed inside a write the engine itself makes
        // (a frame, a BREAK); ending the operation there would let the rest of
        // that step run on against an idle engine and arm its timer again.
        connect(layer, &IPortLayer::PortLost, this, [this, layer] { OnPortLost(layer); }, Qt::QueuedConnection);
    }
}

PortSpec CPortBinding::StoredPort() {
    if (m_hasOverride) return m_override;
    return PortFromSettings(m_settings.GetProfileInt(KEY_COM_PORT, 1),
                            m_settings.GetProfileString(KEY_PORT_NAME, ""));
}

std::string CPortBinding::NotAvailableText() const {
    return "COM Port: " + PortLabel(m_port) + " not available";
}

void CPortBinding::SelectPort() {
    m_port = StoredPort();
    m_layer->Close();
    m_layer = IsNetworkPortName(m_port.device) ? static_cast<IPortLayer*>(&m_network) : &m_serial;
    m_failure = "no serial port is chosen";
}

int CPortBinding::Opened(int open) {
    if (!open) return 0;
    m_layer->Read();  // whatever waited before we opened is not a reply
    m_failure.clear();
    m_engine.SetStatus("COM Port: " + PortLabel(m_port) + " selected ");
    return 1;
}

int CPortBinding::OpenComPort() {
    SelectPort();
    return !m_port.device.empty() && Opened(m_layer->Open(m_port.device, m_failure));
}

void CPortBinding::StartOpenComPort(std::function<void(int open)> opened) {
    SelectPort();
    if (m_port.device.empty()) return opened(0);
    m_layer->StartOpen(m_port.device, [this, opened](int open, const std::string& reason) {
        if (!open) m_failure = reason;
        opened(Opened(open));
    });
}

bool CPortBinding::StoredPortChanged() {
    PortSpec stored = StoredPort();
    return stored.number != m_port.number || stored.device != m_port.device;
}

void CPortBinding::OnBytesArrived() {
    QByteArray bytes = m_layer->Read();
    if (onReceived) onReceived(bytes);
    m_engine.FeedBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
}

void CPortBinding::OnPortLost(IPortLayer* layer) {
    // A loss that arrives after the port was changed or reopened is old news.
    if (layer != m_layer || layer->IsOpen()) return;
    // Reported here only: the port is closed, a running operation ends.
    const bool duringOperation = m_engine.IsBusy();
    m_engine.EndOperation(NotAvailableText(), OUTCOME_PORT_LOST);
    if (onPortLost) onPortLost(duringOperation);
}

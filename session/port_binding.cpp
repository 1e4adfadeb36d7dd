#include "port_binding.h"

#include <QPointer>

PortSpec ChosenPort(const std::optional<PortSpec>& requested, CSettingsStore& settings) {
    if (requested) return *requested;
    return PortFromSettings(settings.GetInt(KEY_COM_PORT, 1), settings.GetString(KEY_PORT_NAME, ""));
}

std::string NotAvailableText(const std::string& portLabel) { return "COM Port: " + portLabel + " not available"; }

CPortBinding::CPortBinding(CLoaderEngine& engine, CSettingsStore& settings, QObject* parent)
    : QObject(parent), m_engine(engine), m_settings(settings) {}

std::string CPortBinding::NotAvailableText() const { return ::NotAvailableText(PortLabel(m_port)); }

bool CPortBinding::SelectPort() {
    m_port = ChosenPort(m_override, m_settings);
    Close();
    m_failure.clear();
    const PortType* type = PortTypeOf(m_port.device, m_failure);
    if (!type) return false;
    // A port of the same kind is opened again; its object stays, as a loss it reports may be on its way.
    if (type == m_type) return true;
    m_layer = MakePortLayer(*type);
    m_type = type;
    connect(m_layer.get(), &IPortLayer::BytesArrived, this, &CPortBinding::OnBytesArrived);
    // Queued: the loss can be noticed inside a write the engine itself makes
    // (a frame, a BREAK); ending the operation there would let the rest of
    // that step run on against an idle engine and arm its timer again.
    connect(
        m_layer.get(), &IPortLayer::PortLost, this,
        [this, layer = QPointer<IPortLayer>(m_layer.get())] {
            // A loss that arrives after the port was changed is old news.
            if (layer == m_layer.get()) OnPortLost();
        },
        Qt::QueuedConnection);
    return true;
}

int CPortBinding::Opened(int open) {
    if (!open) return 0;
    m_layer->Read();  // whatever waited before we opened is not a reply
    m_failure.clear();
    m_engine.SetStatus("COM Port: " + PortLabel(m_port) + " selected ");
    return 1;
}

int CPortBinding::OpenComPort() { return SelectPort() && Opened(m_layer->Open(m_port.device, m_failure)); }

void CPortBinding::StartOpenComPort(std::function<void(int open)> opened) {
    if (!SelectPort()) return opened(0);
    m_layer->StartOpen(m_port.device, [this, opened](int open, const std::string& reason) {
        if (!open) m_failure = reason;
        opened(Opened(open));
    });
}

bool CPortBinding::StoredPortChanged() {
    PortSpec stored = ChosenPort(m_override, m_settings);
    return stored.number != m_port.number || stored.device != m_port.device;
}

void CPortBinding::OnBytesArrived() {
    QByteArray bytes = m_layer->Read();
    if (onReceived) onReceived(bytes);
    m_engine.FeedBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
}

void CPortBinding::OnPortLost() {
    // A loss that arrives after the port was reopened is old news too.
    if (m_layer->IsOpen()) return;
    // Reported here only: the port is closed, a running operation ends.
    const bool duringOperation = m_engine.IsBusy();
    m_engine.EndOperation(NotAvailableText(), OUTCOME_PORT_LOST);
    if (onPortLost) onPortLost(duringOperation);
}

#include "port_binding.h"

#include <cstdio>

CPortBinding::CPortBinding(CLoaderEngine& engine, IUserHost& user, QObject* parent)
    : QObject(parent), m_engine(engine), m_user(user) {
    connect(&m_comm, &CMSComm::OnComm, this, &CPortBinding::OnCommEvent);
    // Queued: the loss can be noticed inside a write the engine itself makes
    // (a frame, a BREAK); ending the operation there would let the rest of
    // that step run on against an idle engine and arm its timer again.
    connect(&m_comm, &CMSComm::PortLost, this, &CPortBinding::OnPortLost, Qt::QueuedConnection);
}

PortSpec CPortBinding::StoredPort() {
    if (m_hasOverride) return m_override;
    return PortFromSettings(m_user.GetProfileInt(KEY_COM_PORT, 1), m_user.GetProfileString(KEY_PORT_NAME, ""));
}

std::string CPortBinding::NotAvailableText() const {
    return "COM Port: " + PortLabel(m_port) + " not available";
}

int CPortBinding::OpenComPort() {
    m_port = StoredPort();
    std::string selected = "COM Port: " + PortLabel(m_port) + " selected ";
    if (m_comm.PortOpen()) m_comm.SetPortOpen(false);
    m_comm.SetCommPort(QString::fromStdString(m_port.device));
    m_comm.SetSettings("115200,n,8,1");
    m_comm.SetInputMode(1);
    m_comm.SetDTREnable(true);
    m_comm.SetRTSEnable(false);
    m_comm.SetNullDiscard(false);
    m_comm.SetSThreshold(0);
    m_comm.SetEOFEnable(false);
    m_comm.SetHandshaking(0);

    m_failure = COMM_NOT_FOUND;
    QString device = QString::fromStdString(m_port.device);
    bool open = false;
    if (!m_port.device.empty() && IsComPortAvailable(device, &m_failure)) {
        open = m_comm.SetPortOpen(true);
        if (!open) m_failure = m_comm.OpenError();
    }
    if (open) {
        m_comm.SetRThreshold(1);
        m_comm.Input();  // whatever waited before we opened is not a reply
        m_engine.SetStatus(selected);
        return 1;
    }
    m_user.MessageBox(NotAvailableText(), MB_ICON_EXCLAMATION);
    m_engine.SetStatus(NotAvailableText());
    return 0;
}

void CPortBinding::CheckPortAfterPreferences() {
    PortSpec stored = StoredPort();
    if (stored.number != m_port.number || stored.device != m_port.device) OpenComPort();
}

std::string CPortBinding::OpenFailureReason() const {
    if (m_port.device.empty()) return "no serial port is chosen";
    switch (m_failure) {
    case COMM_NOT_FOUND:
        return m_port.device + ": no such device";
    case COMM_IN_USE:
        return m_port.device + ": in use by another program";
    case COMM_PERMISSION:
        return m_port.device +
               ": permission denied (the user must belong to the group that owns the device, dialout on Debian)";
    default:
        return m_port.device + ": the device could not be opened";
    }
}

void CPortBinding::OnCommEvent() {
    if (m_comm.CommEvent() != CMSComm::COMEV_RECEIVE) return;
    QByteArray bytes = m_comm.Input();
    if (onReceived) onReceived(bytes);
    m_engine.FeedBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
}

void CPortBinding::OnPortLost() {
    // Reported here only: the port is closed, a running operation ends.
    const bool duringOperation = m_engine.IsBusy();
    m_engine.EndOperation(NotAvailableText(), OUTCOME_PORT_LOST);
    if (onPortLost) onPortLost(duringOperation);
}

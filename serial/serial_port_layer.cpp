#include "serial_port_layer.h"

namespace {

std::string OpenFailureText(const std::string& device, CommOpenError error) {
    switch (error) {
    case COMM_NOT_FOUND:
        return device + ": no such device";
    case COMM_IN_USE:
        return device + ": in use by another program";
    case COMM_PERMISSION:
        return device +
               ": permission denied (the user must belong to the group that owns the device, dialout on Debian)";
    default:
        return device + ": the device could not be opened";
    }
}

}  // namespace

CSerialPortLayer::CSerialPortLayer(QObject* parent) : IPortLayer(parent) {
    connect(&m_comm, &CMSComm::OnComm, this, [this] {
        if (m_comm.CommEvent() == CMSComm::COMEV_RECEIVE) emit BytesArrived();
    });
    connect(&m_comm, &CMSComm::PortLost, this, &IPortLayer::PortLost);
}

int CSerialPortLayer::Open(const std::string& device, std::string& reason) {
    if (m_comm.PortOpen()) m_comm.SetPortOpen(false);
    m_comm.SetCommPort(QString::fromStdString(device));
    m_comm.SetSettings("115200,n,8,1");
    m_comm.SetInputMode(1);
    m_comm.SetDTREnable(true);
    m_comm.SetRTSEnable(false);
    m_comm.SetNullDiscard(false);
    m_comm.SetSThreshold(0);
    m_comm.SetEOFEnable(false);
    m_comm.SetHandshaking(0);

    CommOpenError failure = COMM_NOT_FOUND;
    if (!IsComPortAvailable(device, &failure)) {
        reason = OpenFailureText(device, failure);
        return 0;
    }
    if (!m_comm.SetPortOpen(true)) {
        reason = OpenFailureText(device, m_comm.OpenError());
        return 0;
    }
    m_comm.SetRThreshold(1);
    return 1;
}

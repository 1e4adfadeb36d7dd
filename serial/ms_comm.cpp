#include "ms_comm.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#endif

namespace {

// Qt's lock file goes by the name the device was opened under, and its
// exclusive mode does not hold root back; an advisory lock on the device
// itself stops a second loader whatever the name and whoever runs it. False
// only when another holder has it (a device that takes no locks is let be).
bool LockDevice(QSerialPort& port) {
#ifdef Q_OS_UNIX
    return ::flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
#else
    Q_UNUSED(port);
    return true;
#endif
}

}  // namespace

CMSComm::CMSComm(QObject* parent) : QObject(parent) {
    connect(&m_port, &QSerialPort::readyRead, this, &CMSComm::OnReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &CMSComm::OnError);
}

CMSComm::~CMSComm() { m_port.close(); }

int CMSComm::SetSettings(const QString& text) {
    CommSettings parsed;
    if (!ParseCommSettings(text.toStdString(), parsed)) return 0;
    m_settings = parsed;
    if (m_port.isOpen()) ApplySettings();
    return 1;
}

// A pseudo-terminal has no modem lines: failing to set them is no error.
void CMSComm::SetDTREnable(bool on) {
    m_dtr = on;
    if (m_port.isOpen()) m_port.setDataTerminalReady(on);
}

void CMSComm::SetRTSEnable(bool on) {
    m_rts = on;
    if (m_port.isOpen() && m_handshaking == 0) m_port.setRequestToSend(on);
}

void CMSComm::SetBreak(bool on) {
    if (m_port.isOpen()) m_port.setBreakEnabled(on);
}

bool CMSComm::ApplySettings() {
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                    QSerialPort::OddParity, QSerialPort::MarkParity,
                                                    QSerialPort::SpaceParity};
    int parity = static_cast<int>(std::string("neoms").find(m_settings.parity));
    bool ok = m_port.setBaudRate(static_cast<qint32>(m_settings.baud));
    ok = m_port.setParity(parities[parity]) && ok;
    ok = m_port.setDataBits(static_cast<QSerialPort::DataBits>(m_settings.dataBits)) && ok;
    ok = m_port.setStopBits(m_settings.stopBits10 == 10   ? QSerialPort::OneStop
                            : m_settings.stopBits10 == 15 ? QSerialPort::OneAndHalfStop
                                                          : QSerialPort::TwoStop) &&
         ok;
    ok = m_port.setFlowControl(m_handshaking == 0 ? QSerialPort::NoFlowControl : QSerialPort::HardwareControl) && ok;
    return ok;
}

void CMSComm::SetLowLatency() {
    m_lowLatency = false;
#ifdef Q_OS_LINUX
    serial_struct serial{};
    int fd = static_cast<int>(m_port.handle());
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        m_lowLatency = ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
#endif
}

int CMSComm::SetPortOpen(bool open) {
    if (!open) {
        m_port.close();
        return 1;
    }
    if (m_port.isOpen()) return 1;
    m_openError = COMM_OPEN_OK;
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        QFileInfo info(m_device);
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            m_openError = COMM_NOT_FOUND;
            break;
        case QSerialPort::PermissionError:
            // Both a lock held by another program and file modes give this; the modes tell which.
            m_openError = info.exists() && !(info.isReadable() && info.isWritable()) ? COMM_PERMISSION : COMM_IN_USE;
            break;
        default:
            m_openError = info.exists() ? COMM_OTHER : COMM_NOT_FOUND;
            break;
        }
        m_port.clearError();
        return 0;
    }
    if (!LockDevice(m_port)) {
        m_port.close();
        m_openError = COMM_IN_USE;
        return 0;
    }
    ApplySettings();
    m_port.setDataTerminalReady(m_dtr);
    if (m_handshaking == 0) m_port.setRequestToSend(m_rts);
    SetLowLatency();
    m_port.clearError();
    return 1;
}

void CMSComm::Output(const uint8_t* data, int count) {
    if (!m_port.isOpen() || count <= 0) return;
    m_port.write(reinterpret_cast<const char*>(data), count);
    // Out now, not on the next turn of the event loop: every reply waits on it.
    m_port.flush();
}

QByteArray CMSComm::Input() {
    if (!m_port.isOpen()) return {};
    QByteArray bytes = m_port.readAll();
#ifdef Q_OS_UNIX
    // Also what the driver holds and the event loop has not fetched yet, so
    // that "every waiting byte" holds right after an open too.
    char block[4096];
    ssize_t got;
    while ((got = ::read(static_cast<int>(m_port.handle()), block, sizeof block)) > 0)
        bytes.append(block, static_cast<qsizetype>(got));
#endif
    return bytes;
}

void CMSComm::OnReadyRead() {
    if (m_rThreshold <= 0 || m_port.bytesAvailable() < m_rThreshold) return;
    m_commEvent = COMEV_RECEIVE;
    emit OnComm();
}

void CMSComm::OnError(QSerialPort::SerialPortError error) {
    // A device that went away ends the port: a pulled USB adapter gives a
    // resource error, a hung-up line a read error on every poll. A
    // pseudo-terminal refusing a modem line or BREAK is no fault.
    bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!gone || !m_port.isOpen()) return;
    m_port.close();
    emit PortLost();
}

#include "network_port.h"

#include <cstdio>
#include <utility>

PortCapabilities CNetworkPort::Capabilities(const std::string& name) {
    PortCapabilities can;
    NetworkPortName parsed;
    can.sendsBreak = ParseNetworkPortName(name, parsed) && parsed.rfc2217;
    return can;
}

std::string CNetworkPort::Identity(const std::string& name) {
    NetworkPortName parsed;
    if (!ParseNetworkPortName(name, parsed)) return name;
    return "net " + QString::fromStdString(parsed.host).toLower().toStdString() + " " + std::to_string(parsed.port);
}

CNetworkPort::CNetworkPort(int openTimeoutMs, QObject* parent) : IPortLayer(parent), m_openTimeoutMs(openTimeoutMs) {
    connect(&m_socket, &QTcpSocket::readyRead, this, &CNetworkPort::OnReadyRead);
    connect(&m_socket, &QTcpSocket::disconnected, this, &CNetworkPort::OnGone);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &CNetworkPort::OnGone);
    // After the handlers above: the open looks at what they have made of the event.
    auto look = [this] {
        if (IsOpening()) m_step.start();
    };
    connect(&m_socket, &QTcpSocket::stateChanged, this, look);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, look);
    connect(&m_socket, &QTcpSocket::readyRead, this, look);
    // A look on the next turn of the loop, when the socket has said all it had to say (its
    // error comes after its state).
    m_step.setSingleShot(true);
    m_step.setInterval(0);
    connect(&m_step, &QTimer::timeout, this, &CNetworkPort::Step);
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);  // a coarse one may end the open a little early
    connect(&m_deadline, &QTimer::timeout, this, &CNetworkPort::OpenTimedOut);
}

int CNetworkPort::Open(const std::string& text, std::string& reason) {
    const int open = WaitForOpen(text, reason);
    if (open >= 0) return open;
    reason = m_name.address + ": interrupted while connecting";  // closed meanwhile
    return 0;
}

void CNetworkPort::StartOpen(const std::string& text, OpenDone opened) {
    Close();
    if (!ParseNetworkPortName(text, m_name)) {
        opened(0, text + ": not a network port (rfc2217://HOST:PORT or tcp://HOST:PORT)");
        return;
    }
    m_opened = std::move(opened);
    m_phase = OPEN_CONNECTING;
    if (m_name.rfc2217) m_session = std::make_unique<CComPortSession>();
    m_deadline.start(m_openTimeoutMs);
    m_socket.connectToHost(QString::fromStdString(m_name.host), static_cast<quint16>(m_name.port));
}

void CNetworkPort::Close() {
    m_phase = OPEN_IDLE;
    m_opened = nullptr;
    m_deadline.stop();
    m_step.stop();
    WakeOpenWait();
    m_open = false;
    m_socket.abort();
    m_session.reset();
    m_received.clear();
}

void CNetworkPort::Step() {
    if (m_phase == OPEN_CONNECTING) {
        if (m_socket.state() == QAbstractSocket::UnconnectedState) return OpenEnded(0, ConnectFailure());
        if (m_socket.state() != QAbstractSocket::ConnectedState) return;
        Connected();
        if (!m_session) return OpenEnded(1, {});
    }
    if (m_phase != OPEN_NEGOTIATING) return;
    if (m_session->State() == COM_PORT_READY) return OpenEnded(1, {});
    if (m_session->State() != COM_PORT_NEGOTIATING || m_socket.state() != QAbstractSocket::ConnectedState)
        OpenEnded(0, NegotiationFailure());
}

void CNetworkPort::Connected() {
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_noDelay = m_socket.socketOption(QAbstractSocket::LowDelayOption).toInt() == 1;
    if (!m_session) return;
    m_phase = OPEN_NEGOTIATING;
    std::vector<uint8_t> offers;
    m_session->Start(offers);
    Send(offers.data(), offers.size());
}

std::string CNetworkPort::ConnectFailure() const {
    if (m_socket.error() == QAbstractSocket::HostNotFoundError) return m_name.host + ": the name does not resolve";
    if (m_socket.error() == QAbstractSocket::ConnectionRefusedError)
        return m_name.address + ": connection refused (no server listens on that port)";
    return m_name.address + ": " + m_socket.errorString().toStdString();
}

std::string CNetworkPort::NegotiationFailure() const {
    if (m_session->State() == COM_PORT_WRONG_LINE) return m_name.address + ": " + m_session->WrongLineText();
    if (m_session->State() == COM_PORT_REFUSED)
        return m_name.address + ": the server does not offer serial port control (RFC 2217); tcp://" + m_name.address +
               " passes raw bytes";
    return m_name.address + ": the server closed the connection (is another client using the port?)";
}

void CNetworkPort::OpenTimedOut() {
    Step();  // what came in with the deadline still counts
    if (!IsOpening()) return;
    char text[96];
    if (m_phase == OPEN_CONNECTING)
        std::snprintf(text, sizeof text, ": no answer within %g seconds", m_openTimeoutMs / 1000.0);
    else
        std::snprintf(text, sizeof text, ": the server did not complete the RFC 2217 negotiation within %g seconds",
                      m_openTimeoutMs / 1000.0);
    OpenEnded(0, m_name.address + text);
}

void CNetworkPort::CancelOpen() {
    if (IsOpening()) OpenEnded(0, m_name.address + ": interrupted while connecting");
}

void CNetworkPort::OpenEnded(int open, const std::string& reason) {
    OpenDone opened = std::exchange(m_opened, nullptr);
    if (open) {
        m_phase = OPEN_IDLE;
        m_deadline.stop();
        m_step.stop();
        m_open = true;
        WakeOpenWait();
    } else {
        Close();
    }
    opened(open, reason);
}

void CNetworkPort::Write(const uint8_t* data, int count) {
    if (!m_open || count <= 0) return;
    if (!m_session) {
        Send(data, count);
        return;
    }
    std::vector<uint8_t> bytes;
    CComPortSession::EncodeData(data, count, bytes);
    Send(bytes.data(), bytes.size());
}

void CNetworkPort::SetBreak(bool on) {
    if (!m_open || !m_session) return;
    std::vector<uint8_t> bytes;
    CComPortSession::EncodeBreak(on, bytes);
    Send(bytes.data(), bytes.size());
}

QByteArray CNetworkPort::Read() {
    QByteArray bytes;
    bytes.swap(m_received);
    return bytes;
}

void CNetworkPort::OnReadyRead() {
    QByteArray bytes = m_socket.readAll();
    if (!m_session) {
        m_received += bytes;
    } else {
        std::vector<uint8_t> data;
        std::vector<uint8_t> answers;
        m_session->Receive(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()), data,
                           answers);
        m_received.append(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
        Send(answers.data(), answers.size());
    }
    if (m_open && !m_received.isEmpty()) Q_EMIT BytesArrived();
}

void CNetworkPort::OnGone() {
    // During the open, the open itself looks at the socket.
    if (!m_open) return;
    Close();
    Q_EMIT PortLost();
}

void CNetworkPort::Send(const uint8_t* data, size_t count) {
    if (count == 0) return;
    m_socket.write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
    // Out now, not on the next turn of the event loop: the waits around BREAK block it.
    m_socket.flush();
}

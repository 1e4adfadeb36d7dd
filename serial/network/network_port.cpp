#include "network_port.h"

#include <QTimer>
#include <cstdio>

namespace {

// The exit code of the open's own wake-ups; anything else is the application quitting.
constexpr int WAKE = 1;

}  // namespace

CNetworkPort::CNetworkPort(int openTimeoutMs, QObject* parent) : IPortLayer(parent), m_openTimeoutMs(openTimeoutMs) {
    connect(&m_socket, &QTcpSocket::readyRead, this, &CNetworkPort::OnReadyRead);
    connect(&m_socket, &QTcpSocket::disconnected, this, &CNetworkPort::OnGone);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &CNetworkPort::OnGone);
}

int CNetworkPort::Open(const std::string& text, std::string& reason) {
    Close();
    NetworkPortName name;
    if (!ParseNetworkPortName(text, name)) {
        reason = text + ": not a network port (rfc2217://HOST:PORT or tcp://HOST:PORT)";
        return 0;
    }
    m_deadline = QDeadlineTimer(m_openTimeoutMs);
    m_cancelled = false;
    if (name.rfc2217) m_session = std::make_unique<CComPortSession>();
    if (!Connect(name, reason) || (m_session && !Negotiate(name, reason))) {
        Close();
        return 0;
    }
    m_open = true;
    return 1;
}

void CNetworkPort::Close() {
    m_open = false;
    m_socket.abort();
    m_session.reset();
    m_received.clear();
}

int CNetworkPort::Connect(const NetworkPortName& name, std::string& reason) {
    m_socket.connectToHost(QString::fromStdString(name.host), static_cast<quint16>(name.port));
    WaitResult waited = WaitUntil([this] {
        return m_socket.state() == QAbstractSocket::ConnectedState ||
               m_socket.state() == QAbstractSocket::UnconnectedState;
    });
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_noDelay = m_socket.socketOption(QAbstractSocket::LowDelayOption).toInt() == 1;
        return 1;
    }
    if (waited == WAIT_TIMED_OUT) {
        char text[64];
        std::snprintf(text, sizeof text, ": no answer within %g seconds", m_openTimeoutMs / 1000.0);
        reason = name.address + text;
    } else if (waited == WAIT_INTERRUPTED) {
        reason = name.address + ": interrupted while connecting";
    } else if (m_socket.error() == QAbstractSocket::HostNotFoundError) {
        reason = name.host + ": the name does not resolve";
    } else if (m_socket.error() == QAbstractSocket::ConnectionRefusedError) {
        reason = name.address + ": connection refused (no server listens on that port)";
    } else {
        reason = name.address + ": " + m_socket.errorString().toStdString();
    }
    return 0;
}

int CNetworkPort::Negotiate(const NetworkPortName& name, std::string& reason) {
    std::vector<uint8_t> offers;
    m_session->Start(offers);
    Send(offers.data(), offers.size());
    WaitResult waited = WaitUntil([this] {
        return m_session->State() != COM_PORT_NEGOTIATING || m_socket.state() != QAbstractSocket::ConnectedState;
    });
    if (m_session->State() == COM_PORT_READY) return 1;
    if (m_session->State() == COM_PORT_WRONG_LINE) {
        reason = name.address + ": " + m_session->WrongLineText();
        return 0;
    }
    if (m_session->State() == COM_PORT_REFUSED) {
        reason = name.address + ": the server does not offer serial port control (RFC 2217); tcp://" + name.address +
                 " passes raw bytes";
    } else if (m_socket.state() != QAbstractSocket::ConnectedState) {
        reason = name.address + ": the server closed the connection (is another client using the port?)";
    } else if (waited == WAIT_TIMED_OUT) {
        char text[96];
        std::snprintf(text, sizeof text, ": the server did not complete the RFC 2217 negotiation within %g seconds",
                      m_openTimeoutMs / 1000.0);
        reason = name.address + text;
    } else {
        reason = name.address + ": interrupted while connecting";
    }
    return 0;
}

// Waits in an event loop of its own, so that name lookup and connection keep
// to the deadline; user input waits meanwhile.
CNetworkPort::WaitResult CNetworkPort::WaitUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    auto wake = [&] {
        if (done()) loop.exit(WAKE);
    };
    connect(&timer, &QTimer::timeout, &loop, [&] { loop.exit(WAKE); });
    connect(&m_socket, &QTcpSocket::stateChanged, &loop, wake);
    connect(&m_socket, &QTcpSocket::readyRead, &loop, wake);
    connect(&m_socket, &QTcpSocket::errorOccurred, &loop, wake);
    while (!done()) {
        if (m_cancelled) return WAIT_INTERRUPTED;
        if (m_deadline.hasExpired()) return WAIT_TIMED_OUT;
        timer.start(static_cast<int>(m_deadline.remainingTime()));
        m_waitLoop = &loop;
        int woken = loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_waitLoop = nullptr;
        if (woken != WAKE) return WAIT_INTERRUPTED;
    }
    return WAIT_DONE;
}

void CNetworkPort::CancelOpen() {
    m_cancelled = true;
    if (m_waitLoop) m_waitLoop->exit(0);
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

#include "loopback_keypad.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>

// One connection at a time, as on a cable; replies leave in order once the model says they are due.
class CLoopbackServer : public QObject {
public:
    explicit CLoopbackServer(CKeypadModel& model) : m_model(model) {}

    int Listen(std::string& error) {
        m_server = new QTcpServer(this);
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] { SendDue(); });
        QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
        if (!m_server->listen(QHostAddress::LocalHost, 0)) {
            error = m_server->errorString().toStdString();
            return 0;
        }
        m_clock.start();
        return m_server->serverPort();
    }

private:
    struct Pending {
        qint64 dueUs;
        std::vector<uint8_t> bytes;
    };

    void Accept() {
        while (QTcpSocket* next = m_server->nextPendingConnection()) {
            if (m_client) m_client->deleteLater();
            m_client = next;
            m_client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            m_queue.clear();
            QObject::connect(next, &QTcpSocket::readyRead, this, [this, next] { Receive(next); });
            QObject::connect(next, &QTcpSocket::disconnected, this, [this, next] {
                if (m_client == next) m_client = nullptr;
                next->deleteLater();
            });
        }
    }

    void Receive(QTcpSocket* socket) {
        if (socket != m_client) return;
        QByteArray data = socket->readAll();
        std::vector<KeypadReply> replies;
        m_model.Receive(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()), replies);
        const qint64 now = m_clock.nsecsElapsed() / 1000;
        for (KeypadReply& reply : replies) m_queue.push_back({now + reply.delayUs, std::move(reply.bytes)});
        SendDue();
    }

    void SendDue() {
        const qint64 now = m_clock.nsecsElapsed() / 1000;
        while (!m_queue.empty() && m_queue.front().dueUs <= now) {
            const std::vector<uint8_t>& bytes = m_queue.front().bytes;
            if (m_client) m_client->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
            m_queue.pop_front();
        }
        if (!m_queue.empty()) m_timer->start(static_cast<int>((m_queue.front().dueUs - now + 999) / 1000));
    }

    CKeypadModel& m_model;
    QTcpServer* m_server = nullptr;
    QTcpSocket* m_client = nullptr;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_clock;
    std::deque<Pending> m_queue;
};

CLoopbackKeypad::CLoopbackKeypad(const KeypadConfig& config) : m_model(std::make_unique<CKeypadModel>(config)) {}

CLoopbackKeypad::~CLoopbackKeypad() { Stop(); }

int CLoopbackKeypad::Open(std::string& error) {
    if (m_server) return 1;
    m_server = new CLoopbackServer(*m_model);
    m_server->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_server, &QObject::deleteLater);
    m_thread.start();
    int port = 0;
    QMetaObject::invokeMethod(m_server, [&] { port = m_server->Listen(error); }, Qt::BlockingQueuedConnection);
    if (port == 0) {
        Stop();
        return 0;
    }
    m_name = "tcp://127.0.0.1:" + std::to_string(port);
    return 1;
}

void CLoopbackKeypad::Stop() {
    m_thread.quit();
    m_thread.wait();
    m_server = nullptr;  // deleted as its thread finished
}

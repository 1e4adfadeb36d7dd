#include "loopback_keypad.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>

// One connection at a time, as on a cable; replies leave in order once the model says they are due.
class CLoopbackServer : public QObject {
public:
    explicit CLoopbackServer(CLoopbackKeypad& keypad) : m_keypad(keypad), m_model(*keypad.m_model) {}

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

    void PutOnCable(int afterMs) { m_offCableUntilUs = NowUs() + afterMs * 1000ll; }

private:
    qint64 NowUs() const { return m_clock.nsecsElapsed() / 1000; }

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
        const qint64 now = NowUs();
        if (now < m_offCableUntilUs) return;  // nobody on the cable to hear it
        std::vector<KeypadReply> replies;
        m_model.Receive(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()), replies);
        for (KeypadReply& reply : replies) m_queue.push_back({now + reply.delayUs, std::move(reply.bytes)});
        SendDue();
    }

    void SendDue() {
        const qint64 now = NowUs();
        while (!m_queue.empty() && m_queue.front().dueUs <= now) {
            const std::vector<uint8_t>& bytes = m_queue.front().bytes;
            if (m_client) m_client->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
            m_queue.pop_front();
        }
        if (!m_queue.empty()) m_timer->start(static_cast<int>((m_queue.front().dueUs - now + 999) / 1000));
        else SwapWhenOver(now);
    }

    // The last reply is out: an update over (or a fault answered) takes the keypad off the cable.
    void SwapWhenOver(qint64 now) {
        CLoopbackKeypad& k = m_keypad;
        if (k.swapsLeft <= 0 || k.swapAfterUpdateMs < 0 || !(m_model.Executed() || m_model.FaultAnswered())) return;
        --k.swapsLeft;
        if (k.onSwap) k.onSwap(m_model, k.m_config);
        m_model = CKeypadModel(k.m_config);
        m_offCableUntilUs = now + k.swapAfterUpdateMs * 1000ll;
    }

    CLoopbackKeypad& m_keypad;
    CKeypadModel& m_model;
    QTcpServer* m_server = nullptr;
    QTcpSocket* m_client = nullptr;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_clock;
    std::deque<Pending> m_queue;
    qint64 m_offCableUntilUs = 0;
};

CLoopbackKeypad::CLoopbackKeypad(const KeypadConfig& config)
    : m_config(config), m_model(std::make_unique<CKeypadModel>(config)) {}

CLoopbackKeypad::~CLoopbackKeypad() { Stop(); }

int CLoopbackKeypad::Open(std::string& error) {
    if (m_server) return 1;
    m_server = new CLoopbackServer(*this);
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

void CLoopbackKeypad::Start() {
    if (!m_server) return;
    const int afterMs = firstKeypadAfterMs;
    QMetaObject::invokeMethod(m_server, [this, afterMs] { m_server->PutOnCable(afterMs); }, Qt::BlockingQueuedConnection);
}

void CLoopbackKeypad::Stop() {
    m_thread.quit();
    m_thread.wait();
    m_server = nullptr;  // deleted as its thread finished
}

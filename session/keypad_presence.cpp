#include "keypad_presence.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "link/messages.h"

// The wake-up BREAK, while a keypad is awaited, once a second.
constexpr int PRESENCE_BREAK_EVERY = 8;

CKeypadPresence::CKeypadPresence(const PortSpec& port)
    : m_port(port), m_layer(IsNetworkPortName(port.device) ? static_cast<IPortLayer*>(&m_network) : &m_serial) {
    connect(m_layer, &IPortLayer::BytesArrived, this, [this] {
        QByteArray bytes = m_layer->Read();
        m_parser.FeedBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
    });
}

CKeypadPresence::~CKeypadPresence() { m_layer->Close(); }

// Any whole frame with a good sum is a keypad's.
void CKeypadPresence::DispatchReply(const uint8_t*, int) { m_answered = true; }

bool CKeypadPresence::Open(const std::function<bool()>& keepGoing) {
    m_failure.clear();
    if (m_layer->IsOpen()) return true;
    QTimer watch;  // runs in the network port's own wait
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!keepGoing()) m_network.CancelOpen();
    });
    watch.start(PRESENCE_PROBE_MS);
    if (m_port.device.empty()) m_failure = "no serial port is chosen";
    else if (m_layer->Open(m_port.device, m_failure)) m_layer->Read();  // what waited is not an answer
    return m_layer->IsOpen();
}

// Received bytes and a lost port are taken in meanwhile.
void CKeypadPresence::Pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool CKeypadPresence::WaitUntil(bool present, const std::function<bool()>& keepGoing) {
    QElapsedTimer silent;  // since the last answer
    silent.start();
    int unanswered = 0;
    for (int probe = 0; keepGoing(); ++probe) {
        if (!Open(keepGoing)) {
            if (!present) return true;  // no port, no keypad
            Pause(2 * PRESENCE_PROBE_MS);
            continue;
        }
        if (present && probe % PRESENCE_BREAK_EVERY == 0) {
            m_layer->SetBreak(true);
            QThread::msleep(100);
            m_layer->SetBreak(false);
            QThread::msleep(100);
        }
        m_answered = false;
        m_sender.BeginMessage();
        AppendSync(m_sender);
        m_sender.SendNewFrame();
        Pause(PRESENCE_PROBE_MS);
        if (m_answered) {
            if (present) return true;
            unanswered = 0;
            silent.restart();
        } else if (!present && (!m_layer->IsOpen() || (++unanswered >= 3 && silent.elapsed() >= PRESENCE_GONE_MS))) {
            return true;
        }
    }
    return false;
}

#include "keypad_presence.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "link/messages.h"

// The wake-up BREAK, while a keypad is awaited, once a second.
constexpr int PRESENCE_BREAK_EVERY = 8;

// Any whole frame with a good sum is a keypad's.
void CKeypadPresence::DispatchReply(const uint8_t*, int) { m_answered = true; }

bool CKeypadPresence::Open(const std::function<bool()>& keepGoing) {
    m_failure.clear();
    if (!m_layer) {
        m_layer = MakePortLayer(m_port.device, m_failure);
        if (!m_layer) return false;
        connect(m_layer.get(), &IPortLayer::BytesArrived, this, [this] {
            QByteArray bytes = m_layer->Read();
            m_parser.FeedBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
        });
    }
    if (m_layer->IsOpen()) return true;
    QTimer watch;  // runs in a network port's own wait
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!keepGoing()) m_layer->CancelOpen();
    });
    watch.start(PRESENCE_PROBE_MS);
    if (m_layer->Open(m_port.device, m_failure)) m_layer->Read();  // what waited is not an answer
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
        // Without BREAK (raw TCP) the wake-up would only hold the probes up.
        if (present && probe % PRESENCE_BREAK_EVERY == 0 && CapabilitiesOf(m_port.device).sendsBreak) {
            WakeKeypad([this](bool on) { m_layer->SetBreak(on); }, [](int ms) { QThread::msleep(ms); });
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

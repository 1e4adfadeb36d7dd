#include "port_recovery.h"

#include <utility>

#include "engine/loader_engine.h"
#include "serial/port_check.h"
#include "serial/port_factory.h"
#include "session/port_binding.h"

CPortRecovery::CPortRecovery(CPortBinding& binding, CLoaderEngine& engine, QObject* parent)
    : QObject(parent), m_binding(binding), m_engine(engine) {
    m_timer.setInterval(RETRY_MS);
    connect(&m_timer, &QTimer::timeout, this, &CPortRecovery::Attempt);
}

void CPortRecovery::Start() {
    m_lost = m_binding.PortInUse();
    m_timer.start();
}

void CPortRecovery::Hold(bool held) {
    m_held = held;
    if (held && m_binding.IsOpening()) m_binding.Close();
}

void CPortRecovery::TryNow(std::function<void(int open)> then) {
    if (m_then) return;
    m_then = std::move(then);
    if (!m_binding.IsOpening() || m_binding.StoredPortChanged())
        m_binding.StartOpenComPort([this](int open) { Ended(open); });
}

void CPortRecovery::Attempt() {
    // A running operation keeps its texts and ends by its own time-outs.
    if (m_held || m_engine.IsBusy() || m_binding.IsOpening()) return;
    const PortSpec& inUse = m_binding.PortInUse();
    if (m_binding.IsOpen() || inUse.number != m_lost.number || inUse.device != m_lost.device) {
        m_timer.stop();  // Preferences has chosen another port since
        return;
    }
    // A port that can be asked about quietly is asked first; another only tells by being opened.
    if (CapabilitiesOf(inUse.device).quietCheck && !IsComPortAvailable(inUse.device)) return;
    m_binding.StartOpenComPort([this](int open) { Ended(open); });
}

void CPortRecovery::Ended(int open) {
    if (open) m_timer.stop();
    if (m_then) return std::exchange(m_then, nullptr)(open);
    // A failed attempt shows no box: the loss has been reported already.
    if (!open) m_engine.SetStatus(m_binding.NotAvailableText());
}

#include "port_recovery.h"

#include "engine/loader_engine.h"
#include "serial/port_check.h"
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

void CPortRecovery::Attempt() {
    // A running operation keeps its texts and ends by its own time-outs; a network attempt still
    // connecting runs the event loop, and this timer with it.
    if (m_engine.IsBusy() || m_attempting) return;
    const PortSpec& inUse = m_binding.PortInUse();
    if (m_binding.Comm().IsOpen() || inUse.number != m_lost.number || inUse.device != m_lost.device) {
        m_timer.stop();  // Preferences has chosen another port since
        return;
    }
    // A device is asked about first, quietly; a network port only tells by being connected to.
    if (!IsNetworkPortName(inUse.device) && !IsComPortAvailable(inUse.device)) return;
    m_attempting = true;
    const int open = m_binding.OpenComPort();
    m_attempting = false;
    // A failed attempt shows no box: the loss has been reported already.
    if (open) m_timer.stop();
    else m_engine.SetStatus(m_binding.NotAvailableText());
}

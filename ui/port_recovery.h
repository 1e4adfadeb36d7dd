#pragma once

#include <QObject>
#include <QTimer>

#include "serial/port_naming.h"

class CLoaderEngine;
class CPortBinding;

// Brings back a port that went away (a USB adapter pulled out and plugged in again, a device
// server restarted): tries to reopen it every 2 seconds until it opens or another port is in use. A failed attempt says
// nothing; the loss has been reported already.
class CPortRecovery : public QObject {
public:
    static constexpr int RETRY_MS = 2000;

    CPortRecovery(CPortBinding& binding, CLoaderEngine& engine, QObject* parent = nullptr);

    // The port in use has just gone.
    void Start();
    bool IsRetrying() const { return m_timer.isActive(); }

private:
    void Attempt();

    CPortBinding& m_binding;
    CLoaderEngine& m_engine;
    QTimer m_timer;
    PortSpec m_lost;
    bool m_attempting = false;  // a network attempt runs the event loop while it connects
};

#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "serial/port_naming.h"

class CLoaderEngine;
class CPortBinding;

// Opens the window's port without holding up the window (a network port connects while its
// events go on), and brings back a port that went away or would not open (a USB adapter pulled
// out and plugged in again, a device server restarted, another program letting go of it): tries
// it every 2 seconds until it opens or another port is in use. A failed attempt says nothing;
// the loss or the failure has been reported already.
class CPortRecovery : public QObject {
public:
    static constexpr int RETRY_MS = 2000;

    CPortRecovery(CPortBinding& binding, CLoaderEngine& engine, QObject* parent = nullptr);

    // The port in use has just gone, or would not open: retried in the background from now on.
    void Start();
    // While held, no attempt is made, and one under way ends unsaid: Preferences may probe or
    // change the port.
    void Hold(bool held);
    // Tries the port now, or joins the attempt on it under way; `then(open)` once it has ended (before
    // this returns where opening does not wait). Nothing happens while another caller waits.
    void TryNow(std::function<void(int open)> then);
    bool IsRetrying() const { return m_timer.isActive(); }
    // Someone waits for the port.
    bool IsWaited() const { return static_cast<bool>(m_then); }

private:
    void Attempt();
    void Ended(int open);

    CPortBinding& m_binding;
    CLoaderEngine& m_engine;
    QTimer m_timer;
    PortSpec m_lost;
    bool m_held = false;
    std::function<void(int)> m_then;
};

#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "link/frame_codec.h"
#include "serial/port_factory.h"
#include "serial/port_naming.h"

// A station's eye on its port between units: the sync frame every
// PRESENCE_PROBE_MS, and whether a keypad answers it. The port stays open
// while it looks, so a keypad that leaves for a moment is seen to have gone.
constexpr int PRESENCE_PROBE_MS = 125;
// Unanswered this long (and for three probes at least): the keypad has gone.
// A keypad away for half a second is always seen to have gone.
constexpr int PRESENCE_GONE_MS = 375;

class CKeypadPresence : public QObject, private IFrameWriter, private IPayloadHandler {
public:
    explicit CKeypadPresence(const PortSpec& port) : m_port(port) {}
    ~CKeypadPresence() override { Close(); }

    // Probes until a keypad answers (present) or has not answered for
    // PRESENCE_GONE_MS (gone: a port that cannot be opened counts too).
    // `keepGoing` is asked before every probe; false from it ends the wait and
    // makes this return false.
    bool WaitUntil(bool present, const std::function<bool()>& keepGoing);
    // Opens the port unless it is open; false with OpenFailure() saying why.
    // A network port's open ends early once `keepGoing` says stop.
    bool Open(const std::function<bool()>& keepGoing);
    // Before an update opens the port for itself.
    void Close() {
        if (m_layer) m_layer->Close();
    }
    const std::string& OpenFailure() const { return m_failure; }

private:
    void WriteFrameToPort(const uint8_t* data, int count) override { m_layer->Write(data, count); }
    void DispatchReply(const uint8_t* payload, int length) override;
    void Pause(int ms);

    PortSpec m_port;
    CFrameSender m_sender{*this};
    CFrameParser m_parser{*this};
    std::string m_failure;
    bool m_answered = false;
    std::unique_ptr<IPortLayer> m_layer;  // made at the first open
};

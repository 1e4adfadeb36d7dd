#include "station.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <chrono>

#include "exit_code.h"
#include "keypad_presence.h"
#include "port_binding.h"
#include "serial_desk.h"
#include "settings_store.h"

void CEnterKey::Pressed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_presses;
    m_changed.notify_all();
}

void CEnterKey::InputEnded() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

uint64_t CEnterKey::Presses() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_presses;
}

bool CEnterKey::Wait(uint64_t before, const std::function<bool()>& keepGoing, const std::function<void()>& tick) {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_presses == before && !m_ended) {
        lock.unlock();
        if (!keepGoing()) return false;
        tick();
        lock.lock();
        m_changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    return m_presses != before;
}

bool CStation::Waiting(StationEvent::Kind kind, const std::string& text,
                       const std::function<bool(const std::function<void()>&)>& wait) {
    std::string shown = text + (m_previous.empty() ? "" : " (previous unit: " + m_previous + ")");
    m_sink.Status(shown);
    m_sink.Station({kind});
    QElapsedTimer waited;
    waited.start();
    qint64 lastShown = -1;
    bool ended = wait([&] {
        qint64 seconds = waited.elapsed() / 1000;
        if (seconds == lastShown) return;
        lastShown = seconds;
        m_sink.Waiting((m_previous.empty() ? "" : m_previous + ", ") + std::to_string(seconds) + " s");
    });
    m_sink.Waiting("");
    return ended;
}

bool CStation::Run(const std::function<SessionResult(const std::string& serial)>& update,
                   const std::function<bool()>& keepGoing) {
    // The port the updates open: the one the request names, or the settings store's.
    CSettingsStore settings(true);
    const PortSpec port = ChosenPort(RequestedPort(m_request, m_device), settings);
    CKeypadPresence presence(port);
    if (!presence.Open(keepGoing)) {
        m_sink.Error(NotAvailableText(PortLabel(port)));
        m_sink.Error(presence.OpenFailure());
        return false;
    }
    auto until = [&](bool present) {
        return [&, present](const std::function<void()>& tick) {
            return presence.WaitUntil(present, [&] {
                tick();
                return keepGoing();
            });
        };
    };
    for (;;) {
        if (!Waiting(StationEvent::WAITING_FOR_KEYPAD,
                     m_previous.empty() ? "Waiting for a keypad" : "Waiting for the next keypad", until(true)))
            return true;
        std::string serial;
        if (m_serials && !Waiting(StationEvent::WAITING_FOR_SERIAL, "Scan the label of the keypad in " + m_name,
                                  [&](const std::function<void()>& tick) {
                                      return m_serials->Take(m_index, m_sink, keepGoing, tick, serial);
                                  }))
            return true;
        presence.Close();
        SessionResult result = update(serial);
        m_previous = OutcomeName(result.exitCode);
        if (m_serials)
            m_serials->Ended(
                m_index, serial, result.exitCode == EXIT_OK,
                QDateTime::fromMSecsSinceEpoch(result.startMs, Qt::UTC).toString(Qt::ISODateWithMs).toStdString());
        if (!keepGoing()) return true;
        // Counted from before the question shows: an Enter that answers it at once is not lost.
        const uint64_t asked = m_enter ? m_enter->Presses() : 0;
        // Started by the operator: scanning the next keypad's label is the word to go on.
        bool next =
            m_enter && m_serials ? true
            : m_enter
                ? Waiting(StationEvent::WAITING_FOR_OPERATOR, "Press Enter for the next keypad",
                          [&](const std::function<void()>& tick) { return m_enter->Wait(asked, keepGoing, tick); })
                : Waiting(StationEvent::WAITING_FOR_REMOVAL, "Waiting for the keypad to be removed", until(false));
        if (!next) return true;
    }
}

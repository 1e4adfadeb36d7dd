#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "result_record.h"
#include "session_request.h"
#include "session_sink.h"

class CSerialDesk;

// Enter (a line on standard input) between the units of --repeat=enter
// stations. Lines typed while no station waits are not kept: an early Enter
// must not start an update on the keypad just done.
class CEnterKey {
public:
    // From the thread that reads standard input.
    void Pressed();
    void InputEnded();
    // From a station: the presses so far, taken before it asks for the next.
    uint64_t Presses();
    // True once Enter is pressed after `since` presses, false when the input
    // has ended or `keepGoing` says stop. `tick` runs a few times a second.
    bool Wait(uint64_t since, const std::function<bool()>& keepGoing, const std::function<void()>& tick);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_presses = 0;
    bool m_ended = false;
};

// One port of a production line (--repeat): waits for a keypad to answer,
// updates it, then waits for it to go (or for Enter) before the next one,
// until `keepGoing` says stop. Waiting is no failure and leaves no record.
// Each wait is a status text for a person and a StationEvent for a front end.
class CStation {
public:
    // With `serials`, each unit waits for its keypad's label first, as the
    // run's target `index`, named `name`.
    CStation(const SessionRequest& request, const std::string& device, ISessionSink& sink, CEnterKey* enter,
             CSerialDesk* serials = nullptr, size_t index = 0, const std::string& name = "")
        : m_request(request),
          m_device(device),
          m_sink(sink),
          m_enter(enter),
          m_serials(serials),
          m_index(index),
          m_name(name) {}
    // `update` runs one unit, of the serial scanned for it. False when the port cannot be opened at the start.
    bool Run(const std::function<SessionResult(const std::string& serial)>& update,
             const std::function<bool()>& keepGoing);

private:
    // Shows `text` with the previous unit's outcome, and on a live line the
    // time waited, once a second; `wait` gets the tick to call.
    bool Waiting(StationEvent::Kind kind, const std::string& text,
                 const std::function<bool(const std::function<void()>&)>& wait);

    const SessionRequest& m_request;
    std::string m_device;
    ISessionSink& m_sink;
    CEnterKey* m_enter;
    CSerialDesk* m_serials;
    size_t m_index;
    std::string m_name;
    std::string m_previous;  // the last unit's outcome, empty before the first
};

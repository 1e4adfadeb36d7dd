#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "session_sink.h"

// Whether each unit of a station needs its keypad's serial number before it starts.
enum SerialNeed { SERIAL_OFF, SERIAL_OPTIONAL, SERIAL_REQUIRED };

// What a serial number of this line looks like: a regular expression the
// whole code must match (ECMAScript); none takes any printable code.
class CSerialPattern {
public:
    // 0 with `error` when it does not compile.
    int Set(const std::string& pattern, std::string& error);
    bool Matches(const std::string& code) const;
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
    std::regex m_regex;
};

struct SerialRules {
    SerialNeed need = SERIAL_OFF;
    CSerialPattern pattern;
    // A serial whose last record is an ok of this image: updated again without
    // a word (--again), or when the operator says so (Confirm); neither: refused.
    bool again = false;
    bool askAgain = false;
};

// "KP123 is not a serial number of this line"
std::string NotASerialText(const std::string& code);
// "KP-7 was updated with this image at 2026-12-09 15:02:11" (`at` as a record
// gives it, shown in local time)
std::string UpdatedBeforeText(const std::string& serial, const std::string& at);

// The serial numbers scanned (a scanner types the code and Enter) or typed at
// a line's stations, each given to the station that has waited longest for
// one, or to the station whose own name was scanned just before. A code is
// refused on the panel it would have gone to when it is not one of the line's,
// when another station holds it, or when it was updated with this image
// before (unless that is allowed or confirmed).
//
// Threads: Scan and Confirm from the front end's thread, Take and Ended from
// the stations'; the station shows what became of each code on its own sink.
class CSerialDesk {
public:
    // `names[i]` names the run's target i on its panel; `doneAt` the serials
    // the log has as updated with this image, and when.
    CSerialDesk(SerialRules rules, std::vector<std::string> names, std::map<std::string, std::string> doneAt);

    // A scanned or typed line. Returns what became of it when no station
    // could show it (no station waits, a name scanned for a station that does
    // not wait); empty when a station shows it.
    std::string Scan(const std::string& typed);
    // The operator's answer to "updated before: again?" on a station's panel.
    void Confirm(size_t station, bool again);
    bool AnyWaiting() const;
    // Codes scanned while no station waits are kept for the next that does,
    // in their order (lines piped in, or scanned before the keypad is in).
    void KeepEarlyScans();
    // No code comes any more (the input has ended): stations stop waiting once the kept ones are taken.
    void Close();

    // A station's wait for its unit's serial (empty: none, when optional).
    // False when `keepGoing` says stop first; `tick` runs a few times a second.
    bool Take(size_t station, ISessionSink& sink, const std::function<bool()>& keepGoing,
              const std::function<void()>& tick, std::string& serial);
    // The unit of `serial` has ended (all its attempts): `ok` when the image went in, at `start`.
    void Ended(size_t station, const std::string& serial, bool ok, const std::string& start);

private:
    enum State { IDLE, WAITING, ASKING };
    struct Desk {
        State state = IDLE;
        uint64_t since = 0;  // when it began to wait, in the order of the waits
        std::string held;    // the serial it has or asks about
        bool taken = false;
        std::vector<StationEvent> news;  // for the station to show
    };
    void Tell(size_t station, StationEvent::Kind kind, const std::string& text);
    void Offer(size_t station, const std::string& code);
    void Accept(size_t station, const std::string& code);
    size_t LongestWaiting() const;

    const SerialRules m_rules;
    const std::vector<std::string> m_names;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, std::string> m_doneAt;
    std::vector<Desk> m_desks;
    uint64_t m_waits = 0;
    bool m_keepEarly = false;
    bool m_closed = false;
    std::deque<std::string> m_early;
    size_t m_armed = SIZE_MAX;  // its name was scanned: the next code goes to it
};

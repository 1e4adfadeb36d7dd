#pragma once
#include <string>

#include "result_record.h"

// What a station does, as a front end maps it onto its own view: no state is
// read from a status text.
struct StationEvent {
    enum Kind {
        WAITING_FOR_KEYPAD,
        WAITING_FOR_REMOVAL,
        WAITING_FOR_OPERATOR,  // the operator's Start (Enter) begins the next unit
        RETRY_BACKOFF,         // `seconds` before the unit's next attempt
        UNIT_BEGUN,            // its beginning is on the disk; an update starts
        UNIT_ENDED,            // `result`, recorded; `retryInMs` >= 0: it is tried again after that
        PORT_UNOPENED,         // the station could not open its port: it has ended
        WAITING_FOR_SERIAL,    // the keypad's label must be scanned before its unit starts
        SERIAL_REFUSED,        // `text` says why a code scanned for it was refused; it goes on waiting
        SERIAL_ASKED,          // `text`: the serial was updated with this image before; again? (Confirm)
        SERIAL_TAKEN,          // `text` is the unit's serial (empty: none, when optional)
    };
    StationEvent(Kind kind_ = WAITING_FOR_KEYPAD) : kind(kind_) {}
    Kind kind;
    int seconds = 0;
    int retryInMs = -1;
    std::string text;
    SessionResult result;
};

// Where one keypad's session shows what happens: status texts, the main bar,
// the time remaining (one figure for every view, from the sending rate),
// errors, notes and trace lines. A terminal, a line of the gang
// view, JSON Lines, or nothing (probes).
class ISessionSink {
public:
    virtual ~ISessionSink() = default;
    virtual void Status(const std::string& text) = 0;
    virtual void Range(int lower, int upper) = 0;
    virtual void Position(int position) = 0;
    virtual void TimeRemaining(const std::string& text) = 0;
    // The data phase begins: positions from here on are percentages sent.
    virtual void BeginDataPhase() = 0;
    // The operation has ended.
    virtual void Finish() = 0;
    // A failure's reason, for stderr.
    virtual void Error(const std::string& text) = 0;
    // A line for stderr as it is (--trace).
    virtual void Trace(const std::string& line) = 0;
    // The port does not offer low-latency mode: transfers may be slower.
    virtual void NoLowLatency(const std::string& device) = 0;
    // A station's wait in a few words (the previous unit's outcome, the time
    // waited), for a view that redraws its line in place; the others have
    // shown the status once.
    virtual void Waiting(const std::string&) {}
    // A station's change of state, in order with the calls above.
    virtual void Station(const StationEvent&) {}
    // Whether a session on another thread may call it directly, one call at a time: a sink
    // that only carries its calls on to another thread.
    virtual bool TakesCallsFromAnyThread() const { return false; }
};

// Shows nothing: the probes that look for a keypad.
class CNullSink : public ISessionSink {
public:
    void Status(const std::string&) override {}
    void Range(int, int) override {}
    void Position(int) override {}
    void TimeRemaining(const std::string&) override {}
    void BeginDataPhase() override {}
    void Finish() override {}
    void Error(const std::string&) override {}
    void Trace(const std::string&) override {}
    void NoLowLatency(const std::string&) override {}
};

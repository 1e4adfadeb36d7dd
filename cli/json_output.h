#pragma once
#include <QElapsedTimer>
#include <QJsonObject>
#include <string>

#include "session/json_events.h"

// --json: JSON Lines on stdout, one object per line, written whole.
class CJsonOutput {
public:
    CJsonOutput() { m_clock.start(); }
    // Adds the port and the seconds since the start, and writes the object.
    void Event(const std::string& port, QJsonObject object);
    void Result(const SessionResult& result) { Event(result.port, ResultObject(result)); }
    // An "error" object, also said on stderr.
    void Error(const std::string& port, const std::string& text);

private:
    QElapsedTimer m_clock;
};

// One keypad's session on stdout as JSON objects; its errors on stderr too, its traces there alone.
class CJsonSink : public CJsonEventSink {
public:
    CJsonSink(CJsonOutput& output, const std::string& port)
        : CJsonEventSink([&output, port](QJsonObject o) { output.Event(port, std::move(o)); }),
          m_output(output),
          m_port(port) {}

    void Error(const std::string& text) override { m_output.Error(m_port, text); }
    void Trace(const std::string& line) override;
    void NoLowLatency(const std::string& device) override;

private:
    CJsonOutput& m_output;
    std::string m_port;
};

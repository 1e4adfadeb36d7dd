#include "json_output.h"

#include <cstdio>

#include "console_output.h"
#include "terminal_view.h"

void CJsonOutput::Event(const std::string& port, QJsonObject object) {
    object["port"] = JsonText(port);
    object["t"] = static_cast<double>(m_clock.elapsed()) / 1000.0;
    Output(stdout, JsonLine(object).toStdString());
}

void CJsonOutput::Error(const std::string& port, const std::string& text) {
    OutputLine(stderr, "orbix-flash: " + port + (port.empty() ? "" : ": ") + text);
    Event(port, ErrorObject(text));
}

void CJsonSink::Trace(const std::string& line) { OutputLine(stderr, m_port + " " + line, OUTPUT_TRACE); }

void CJsonSink::NoLowLatency(const std::string& device) { Trace(LowLatencyNote(device)); }

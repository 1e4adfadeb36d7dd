#include "json_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

QByteArray Line(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'; }

void WriteStdout(const QByteArray& line) {
    // A closed pipe drops lines; the update goes on.
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

}  // namespace

void CJsonOutput::Event(const std::string& port, QJsonObject object) {
    object["port"] = JsonText(port);
    object["t"] = static_cast<double>(m_clock.elapsed()) / 1000.0;
    WriteStdout(Line(object));
}

void CJsonOutput::Result(const SessionResult& result) { WriteStdout(Line(ResultObject(result))); }

void CJsonSink::Status(const std::string& text) {
    QJsonObject o;
    o["type"] = "status";
    o["text"] = JsonText(text);
    m_output.Event(m_port, o);
}

void CJsonSink::BeginDataPhase() {
    m_dataPhase = true;
    m_percent = -1;
}

void CJsonSink::Position(int position) {
    if (!m_dataPhase || position == m_percent) return;
    m_percent = position;
    QJsonObject o;
    o["type"] = "progress";
    o["percent"] = position;
    if (!m_timeText.empty()) o["remaining"] = JsonText(m_timeText);
    m_output.Event(m_port, o);
}

void CJsonSink::Error(const std::string& text) {
    std::fprintf(stderr, "orbix-flash: %s: %s\n", m_port.c_str(), text.c_str());
    QJsonObject o;
    o["type"] = "error";
    o["text"] = JsonText(text);
    m_output.Event(m_port, o);
}

void CJsonSink::Trace(const std::string& line) { std::fprintf(stderr, "%s %s\n", m_port.c_str(), line.c_str()); }

CResultLog::~CResultLog() {
    if (m_fd >= 0) close(m_fd);
}

int CResultLog::Open(const std::string& path, std::string& error) {
    m_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

int CResultLog::Append(const SessionResult& result) {
    QByteArray line = Line(ResultObject(result));
    // One write: appends from several stations on one log do not interleave.
    ssize_t written = write(m_fd, line.constData(), static_cast<size_t>(line.size()));
    return written == line.size() && fsync(m_fd) == 0;
}

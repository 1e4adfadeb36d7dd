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

void CJsonOutput::Result(const SessionResult& result) { Event(result.port, ResultObject(result)); }

void CJsonOutput::Error(const std::string& port, const std::string& text) {
    std::fprintf(stderr, "orbix-flash: %s%s%s\n", port.c_str(), port.empty() ? "" : ": ", text.c_str());
    QJsonObject o;
    o["type"] = "error";
    o["text"] = JsonText(text);
    Event(port, o);
}

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
    o["remaining"] = m_timeText.empty() ? QJsonValue() : QJsonValue(JsonText(m_timeText));
    m_output.Event(m_port, o);
}

void CJsonSink::Error(const std::string& text) { m_output.Error(m_port, text); }

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

int CResultLog::Append(const SessionResult& result, std::string& reason) {
    QByteArray line = Line(ResultObject(result));
    off_t before = lseek(m_fd, 0, SEEK_END);
    // One write: appends from several stations on one log do not interleave.
    ssize_t written = write(m_fd, line.constData(), static_cast<size_t>(line.size()));
    if (written == line.size() && fsync(m_fd) == 0) return 1;
    if (written >= 0 && written < line.size()) {
        char text[80];
        std::snprintf(text, sizeof text, "only %zd of %lld bytes went in", written, static_cast<long long>(line.size()));
        reason = text;
    } else {
        reason = std::strerror(errno);
    }
    if (written > 0 && (before < 0 || ftruncate(m_fd, before) != 0)) reason += "; a part of the record is left in the file";
    return 0;
}

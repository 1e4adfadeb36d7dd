#include "result_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include <QJsonDocument>
#include <QJsonObject>

#include "port_discovery.h"

CResultLog::~CResultLog() {
    if (m_fd >= 0) close(m_fd);
}

int CResultLog::Open(const std::string& path, std::string& error) {
    // Read too, for its last byte; a log the user may only write to is still appended to.
    m_fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0 && errno == EACCES) m_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    char last = '\n';
    off_t end = lseek(m_fd, 0, SEEK_END);
    if (end > 0 && pread(m_fd, &last, 1, end - 1) == 1 && last != '\n' && write(m_fd, "\n", 1) != 1) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

int CResultLog::Append(const SessionResult& result, std::string& reason) {
    QByteArray line = JsonLine(ResultObject(result));
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

int ReadDonePorts(const std::string& path, const std::string& command, const std::string& sha256,
                  std::set<std::string>& done, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        if (errno == ENOENT) return 1;
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    std::map<std::string, QJsonObject> last;  // by device identity
    std::string line;
    while (std::getline(file, line)) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (o["type"].toString() == "result") last[DeviceIdentity(o["port"].toString().toLocal8Bit().toStdString())] = o;
    }
    if (file.bad()) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    for (const auto& [port, o] : last)
        if (o["outcome"].toString() == "ok" && o["command"].toString().toStdString() == command &&
            o["sha256"].toString().toStdString() == sha256)
            done.insert(port);
    return 1;
}

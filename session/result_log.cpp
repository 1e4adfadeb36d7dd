#include "result_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

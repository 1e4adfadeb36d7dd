#include "result_log.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>

#include "wide_path.h"
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
#ifdef _WIN32
// Not inherited by anything the program starts.
int OpenForAppend(const std::string& path) {
    return _wopen(WidePath(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
int FlushToDisk(int fd) { return _commit(fd); }
int CutBack(int fd, long long length) { return _chsize_s(fd, length); }
#else
int OpenForAppend(const std::string& path) { return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); }
int FlushToDisk(int fd) { return fsync(fd); }
int CutBack(int fd, long long length) { return ftruncate(fd, static_cast<off_t>(length)); }
#endif
}  // namespace

CResultLog::~CResultLog() {
    if (m_fd >= 0) close(m_fd);
}

int CResultLog::Open(const std::string& path, std::string& error) {
    m_fd = OpenForAppend(path);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

int CResultLog::Append(const SessionResult& result, std::string& reason) {
    QByteArray line = JsonLine(ResultObject(result));
    long long before = lseek(m_fd, 0, SEEK_END);
    // One write: appends from several stations on one log do not interleave.
    ssize_t written = write(m_fd, line.constData(), static_cast<size_t>(line.size()));
    if (written == line.size() && FlushToDisk(m_fd) == 0) return 1;
    if (written >= 0 && written < line.size()) {
        char text[80];
        std::snprintf(text, sizeof text, "only %zd of %lld bytes went in", written, static_cast<long long>(line.size()));
        reason = text;
    } else {
        reason = std::strerror(errno);
    }
    if (written > 0 && (before < 0 || CutBack(m_fd, before) != 0)) reason += "; a part of the record is left in the file";
    return 0;
}

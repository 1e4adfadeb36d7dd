#include "result_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>

#include "wide_path.h"
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <QJsonDocument>
#include <QJsonObject>

#include "port_discovery.h"

namespace {
#ifdef _WIN32
// Not inherited by anything the program starts.
int OpenForAppend(const std::string& path, bool read) {
    return _wopen(WidePath(path).c_str(), (read ? _O_RDWR : _O_WRONLY) | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}
int FlushToDisk(int fd) { return _commit(fd); }
int CutBack(int fd, long long length) { return _chsize_s(fd, length); }
#else
int OpenForAppend(const std::string& path, bool read) {
    return open(path.c_str(), (read ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}
int FlushToDisk(int fd) { return fsync(fd); }
int CutBack(int fd, long long length) { return ftruncate(fd, static_cast<off_t>(length)); }
#endif
}  // namespace

CResultLog::~CResultLog() {
    if (m_fd >= 0) close(m_fd);
}

int CResultLog::Open(const std::string& path, std::string& error) {
    // Read too, for its last byte; a log the user may only write to is still appended to.
    m_fd = OpenForAppend(path, true);
    if (m_fd < 0 && errno == EACCES) m_fd = OpenForAppend(path, false);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    struct stat status {};
    m_regular = fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode);
    // Appends go to the end whatever the offset, so reading the last byte moves nothing that matters.
    char last = '\n';
    long long end = lseek(m_fd, 0, SEEK_END);
    if (end > 0 && lseek(m_fd, end - 1, SEEK_SET) == end - 1 && read(m_fd, &last, 1) == 1 && last != '\n' &&
        write(m_fd, "\n", 1) != 1) {
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
    // /dev/null, a FIFO or a pipe keep nothing to flush or cut back.
    if (written == line.size() && (!m_regular || FlushToDisk(m_fd) == 0)) return 1;
    if (written >= 0 && written < line.size()) {
        char text[80];
        std::snprintf(text, sizeof text, "only %zd of %lld bytes went in", written, static_cast<long long>(line.size()));
        reason = text;
    } else {
        reason = std::strerror(errno);
    }
    if (written > 0 && m_regular && (before < 0 || CutBack(m_fd, before) != 0))
        reason += "; a part of the record is left in the file";
    else if (written > 0 && !m_regular)
        reason += "; a part of the record went out";
    return 0;
}

int ReadDonePorts(const std::string& path, const std::string& command, const std::string& sha256,
                  std::set<std::string>& done, std::string& error) {
#ifdef _WIN32
    std::ifstream file(std::filesystem::path(WidePath(path)));
#else
    std::ifstream file(path);
#endif
    if (!file) {
        if (errno == ENOENT) return 1;
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    std::map<std::string, QJsonObject> last;  // by device identity
    std::string line;
    while (std::getline(file, line)) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        // A connection test on the same log is no update: only this command's records count.
        if (o["type"].toString() == "result" && o["command"].toString().toStdString() == command)
            last[DeviceIdentity(o["port"].toString().toStdString())] = o;
    }
    if (file.bad()) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    for (const auto& [port, o] : last)
        if (o["outcome"].toString() == "ok" && o["sha256"].toString().toStdString() == sha256)
            done.insert(port);
    return 1;
}

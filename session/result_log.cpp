#include "result_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>

#include "wide_path.h"
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "exit_code.h"
#include "image_file.h"
#include "port_discovery.h"

namespace {
#ifdef _WIN32
// Not inherited by anything the program starts.
int OpenForAppend(const std::string& path, bool read) {
    return _wopen(WidePath(path).c_str(),
                  (read ? _O_RDWR : _O_WRONLY) | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
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

// How long a record waits for a pipe or FIFO to take it.
constexpr int PIPE_WAIT_MS = 5000;

// A file takes a record at once; a pipe, opened without blocking, within PIPE_WAIT_MS or not at
// all (its reader gone or stopped), so a station is never held for good.
ssize_t WriteRecord(int fd, const QByteArray& line, bool regular) {
#ifdef _WIN32
    (void)regular;
    return write(fd, line.constData(), static_cast<unsigned>(line.size()));
#else
    if (regular) return write(fd, line.constData(), static_cast<size_t>(line.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PIPE_WAIT_MS);
    ssize_t done = 0;
    while (done < line.size()) {
        ssize_t got = write(fd, line.constData() + done, static_cast<size_t>(line.size() - done));
        if (got > 0) {
            done += got;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if ((got < 0 && errno != EAGAIN) || left.count() <= 0) return done > 0 ? done : -1;
        pollfd ready{fd, POLLOUT, 0};
        poll(&ready, 1, static_cast<int>(left.count()));
    }
    return done;
#endif
}

}  // namespace

CResultLog::~CResultLog() {
    if (m_fd >= 0) close(m_fd);
}

int CResultLog::Open(const std::string& path, std::string& error) {
    m_path = path;
    // Read too, for its last byte; a log the user may only write to is still appended to.
    m_fd = OpenForAppend(path, true);
    if (m_fd < 0 && errno == EACCES) m_fd = OpenForAppend(path, false);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    struct stat status {};
    m_regular = fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode);
#ifndef _WIN32
    if (!m_regular) fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
#endif
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

void CResultLog::SetSource(const RecordSource& source) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_source = source;
}

int CResultLog::Begin(const SessionResult& result, std::string& reason, std::string& note) {
    return Write(BeginObject(result), reason, note);
}

int CResultLog::Append(const SessionResult& result, std::string& reason, std::string& note) {
    return Write(ResultObject(result), reason, note);
}

// A cleaner or a rotation took the file away: a record written to it now would be lost with it.
int CResultLog::Reopen(std::string& reason, std::string& note) {
#ifndef _WIN32
    struct stat open {
    }, named{};
    if (fstat(m_fd, &open) != 0 ||
        (stat(m_path.c_str(), &named) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino))
        return 1;
    int fd = OpenForAppend(m_path, true);
    if (fd < 0) {
        reason = "it was removed and cannot be made again: " + std::string(std::strerror(errno));
        return 0;
    }
    close(m_fd);
    m_fd = fd;
    note = m_path + " was removed or replaced: the records go on in the log now at that path";
#else
    (void)reason;
    (void)note;
#endif
    return 1;
}

int CResultLog::Write(const QJsonObject& record, std::string& reason, std::string& note) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const QByteArray line = JsonLine(SourcedRecord(record, m_source));
    if (m_regular && !Reopen(reason, note)) return 0;
    long long before = m_regular ? lseek(m_fd, 0, SEEK_END) : -1;
    // One write: appends from several stations on one log do not interleave.
    ssize_t written = WriteRecord(m_fd, line, m_regular);
    // /dev/null, a FIFO or a pipe keep nothing to flush or cut back.
    if (written == line.size() && (!m_regular || FlushToDisk(m_fd) == 0)) {
        if (onWritten) onWritten(line);
        return 1;
    }
    if (written >= 0 && written < line.size()) {
        char text[80];
        std::snprintf(text, sizeof text, "only %zd of %lld bytes went in", written,
                      static_cast<long long>(line.size()));
        reason = text;
    } else if (errno == EAGAIN) {
        reason = "nothing took it for 5 s (has the pipe's reader gone?)";
    } else {
        reason = std::strerror(errno);
    }
    if (written > 0 && m_regular && (before < 0 || CutBack(m_fd, before) != 0))
        reason += "; a part of the record is left in the file";
    else if (written > 0 && !m_regular)
        reason += "; a part of the record went out";
    return 0;
}

SessionResult BeginUnit(CResultLog* log, const SessionRequest& request, const PortTarget& target, size_t index,
                        int attempt) {
    // As the session will name its port: \\.\COM12 as COM12.
    SessionResult begun =
        BegunUnit(target.device.empty() ? PlainComName(target.port) : target.port, target.unit, index, attempt);
    begun.serial = target.serial;
    if (!log || (request.command != KEYPAD_FIRMWARE && request.command != KEYPAD_SCREENS)) {
        begun.unitId.clear();  // no begin record to join
        return begun;
    }
    begun.command = KeypadCommandWord(request.command);
    begun.file = RecordedPath(request.file);
    begun.sha256 = request.image ? request.image->sha256 : "";
    std::string reason;
    if (!log->Begin(begun, reason, begun.logNote)) {
        begun.exitCode = EXIT_RECORDS;
        begun.lastText = "Not started: its beginning could not be recorded.";
        begun.recordLost = reason + "; it was the unit's begin record, so the unit was not started";
    }
    return begun;
}

namespace {

// The last record of `command` (a begin or a result) for each key `keyOf` gives a record; a
// connection test on the same log is no update. A log that does not exist yet has none.
int ReadLastRecords(const std::string& path, const std::string& command,
                    const std::function<std::string(const QJsonObject&)>& keyOf,
                    std::map<std::string, QJsonObject>& last, std::string& error) {
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
    std::string line;
    while (std::getline(file, line)) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const QString type = o["type"].toString();
        if ((type != "result" && type != "begin") || o["command"].toString().toStdString() != command) continue;
        std::string key = keyOf(o);
        if (!key.empty()) last[key] = o;
    }
    if (file.bad()) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

bool IsDone(const QJsonObject& o, const std::string& sha256) {
    return o["type"].toString() == "result" && o["outcome"].toString() == "ok" &&
           o["sha256"].toString().toStdString() == sha256;
}

}  // namespace

int ReadDonePorts(const std::string& path, const std::string& command, const std::string& sha256,
                  std::set<std::string>& done, std::set<std::string>& cutOff, std::string& error) {
    std::map<std::string, QJsonObject> last;
    auto port = [](const QJsonObject& o) { return DeviceIdentity(o["port"].toString().toStdString()); };
    if (!ReadLastRecords(path, command, port, last, error)) return 0;
    for (const auto& [identity, o] : last)
        if (o["type"].toString() == "begin")
            cutOff.insert(identity);
        else if (IsDone(o, sha256))
            done.insert(identity);
    return 1;
}

int ReadDoneSerials(const std::string& path, const std::string& command, const std::string& sha256,
                    std::map<std::string, std::string>& doneAt, std::string& error) {
    std::map<std::string, QJsonObject> last;
    auto serial = [](const QJsonObject& o) { return o["serial"].toString().toStdString(); };
    if (!ReadLastRecords(path, command, serial, last, error)) return 0;
    for (const auto& [serial, o] : last)
        if (IsDone(o, sha256)) doneAt[serial] = o["start"].toString().toStdString();
    return 1;
}

#include "image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "wide_path.h"
#else
#include <unistd.h>
#endif

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

#ifdef _WIN32
using FileInfo = struct _stat64;
// By its attributes: the C runtime's stat takes the "?" of \\?\ for a wildcard.
int StatPath(const std::string& path, FileInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return -1;
    }
    info->st_mode = data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE) ? 0 : _S_IFREG;
    info->st_size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return 0;
}
int StatOpen(int fd, FileInfo* info) { return _fstat64(fd, info); }
int OpenPath(const std::string& path) { return _wopen(WidePath(path).c_str(), O_RDONLY | O_BINARY | O_NOINHERIT); }
#else
using FileInfo = struct stat;
int StatPath(const std::string& path, FileInfo* info) { return stat(path.c_str(), info); }
int StatOpen(int fd, FileInfo* info) { return fstat(fd, info); }
// Non-blocking: a pipe put in its place since the check cannot hold the open.
int OpenPath(const std::string& path) { return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }
#endif

// Small enough that a signal is seen within a few milliseconds.
constexpr size_t BLOCK = 1 << 20;

class CFd {
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() {
        if (m_fd >= 0) close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

FileReadResult ReadImageFile(const std::string& path, uint64_t limit, CImageFile& file, uint64_t& fileLength,
                             std::string& problem, const std::function<bool()>& stopped) {
    FileInfo info{};
    if (StatPath(path, &info) != 0) {
        problem = std::strerror(errno);
        return FILE_NOT_OPENED;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = "not a regular file";
        return FILE_NOT_OPENED;
    }
    fileLength = static_cast<uint64_t>(info.st_size);
    if (fileLength > limit) return FILE_TOO_LARGE;
    CFd fd(OpenPath(path));
    if (fd.Get() < 0 || StatOpen(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = fd.Get() < 0 ? std::strerror(errno) : "not a regular file";
        return FILE_NOT_OPENED;
    }
    fileLength = static_cast<uint64_t>(info.st_size);
    if (fileLength > limit) return FILE_TOO_LARGE;
    std::vector<uint8_t>& bytes = *file.bytes;
    bytes.resize(static_cast<size_t>(fileLength));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    size_t done = 0;
    while (done < bytes.size()) {
        if (stopped()) return FILE_READ_STOPPED;
        ssize_t got = read(fd.Get(), bytes.data() + done, std::min(BLOCK, bytes.size() - done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            problem = got < 0 ? std::strerror(errno) : "shorter than its length";
            bytes.resize(done);
            return FILE_READ_SHORT;
        }
        hash.addData(QByteArrayView(bytes.data() + done, got));
        done += static_cast<size_t>(got);
    }
    if (stopped()) return FILE_READ_STOPPED;
    file.sha256 = hash.result().toHex().toStdString();
    return FILE_READ_OK;
}

std::string RecordedPath(const std::string& name) {
#ifdef _WIN32
    return ResolvedPath(name);
#else
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    return ec ? name : absolute.string();
#endif
}

#include "port_lock.h"

#ifdef _WIN32
std::string PortLockPath(const std::string&) { return {}; }
PortLockHolder ClearStaleLock(const std::string&) { return {}; }
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

// The folders Qt looks in, in its order: the first readable one that holds the
// file or may take it.
const char* const LOCK_FOLDERS[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                    "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The lock's first line as a process id; 0 for anything else.
long LockPid(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(begin, &end, 10);
    while (end && (*end == ' ' || *end == '\t' || *end == '\r')) ++end;
    return errno == 0 && end != begin && end && (*end == '\n' || *end == '\0') && pid > 0 ? pid : 0;
}

// Whether `pid` has `device` open, as far as this user can see; a process
// whose descriptors are hidden from us is taken to hold it.
bool HasOpen(long pid, const std::string& device) {
    struct stat target {};
    if (::stat(device.c_str(), &target) != 0) return true;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = ::opendir(folder.c_str());
    if (!fds) return true;
    bool found = false;
    while (dirent* entry = ::readdir(fds)) {
        struct stat open {};
        if (::stat((folder + "/" + entry->d_name).c_str(), &open) == 0 && open.st_rdev == target.st_rdev &&
            S_ISCHR(open.st_mode))
            found = true;
    }
    ::closedir(fds);
    return found;
}

// A live process behind the file read as `text`, with its name.
PortLockHolder LiveHolder(const std::string& text, const std::string& device) {
    PortLockHolder holder;
    holder.pid = LockPid(text);
    if (holder.pid == 0) return {};
    if (::kill(static_cast<pid_t>(holder.pid), 0) != 0 && errno == ESRCH) return {};
    if (holder.pid != ::getpid() && !HasOpen(holder.pid, device)) return {};
    holder.held = true;
    holder.program = ReadLine("/proc/" + std::to_string(holder.pid) + "/comm");
    const size_t second = text.find('\n');
    if (holder.program.empty() && second != std::string::npos)
        holder.program = text.substr(second + 1, text.find('\n', second + 1) - second - 1);
    return holder;
}

}  // namespace

std::string PortLockPath(const std::string& device) {
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char& c : name)
        if (c == '/') c = '_';
    for (const char* folder : LOCK_FOLDERS) {
        const std::string path = std::string(folder) + "/LCK.." + name;
        struct stat there {};
        if (::access(folder, R_OK) == 0 && (::lstat(path.c_str(), &there) == 0 || ::access(folder, W_OK) == 0))
            return path;
    }
    return {};
}

PortLockHolder ClearStaleLock(const std::string& device) {
    const std::string path = PortLockPath(device);
    struct stat judged {};
    if (path.empty() || ::lstat(path.c_str(), &judged) != 0) return {};
    std::string text;
    if (S_ISREG(judged.st_mode)) {
        // Not through a symlink, nor stuck on a FIFO someone planted.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        char block[256];
        const ssize_t got = fd >= 0 ? ::read(fd, block, sizeof block) : -1;
        if (fd >= 0) ::close(fd);
        if (got > 0) text.assign(block, static_cast<size_t>(got));
        PortLockHolder holder = LiveHolder(text, device);
        if (holder.held) return holder;
    }
    // Moved aside in one step, then dropped only if what was moved is the file
    // judged stale: a fresh lock another program made meanwhile goes back.
    const std::string aside = path + ".stale." + std::to_string(::getpid());
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        PortLockHolder stuck;
        stuck.problem = "a stale lock file " + path + " is in the way and cannot be removed: " + std::strerror(errno);
        return stuck;
    }
    struct stat moved {};
    if (::lstat(aside.c_str(), &moved) == 0 && (moved.st_ino != judged.st_ino || moved.st_dev != judged.st_dev))
        (void)::link(aside.c_str(), path.c_str());
    ::unlink(aside.c_str());
    return {};
}
#endif

std::string HolderText(const PortLockHolder& holder) {
    if (!holder.problem.empty()) return " (" + holder.problem + ")";
    if (!holder.held) return {};
    return " (" + (holder.program.empty() ? std::string("process ") : holder.program + ", process ") +
           std::to_string(holder.pid) + ")";
}

#include "process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

namespace {

// A pseudo-terminal's two ends: [0] the one we read, [1] the one it writes.
bool OpenTerminal(int ends[2]) {
    ends[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (ends[0] < 0 || grantpt(ends[0]) != 0 || unlockpt(ends[0]) != 0) return false;
    ends[1] = open(ptsname(ends[0]), O_RDWR | O_NOCTTY);
    termios raw{};
    if (ends[1] < 0 || tcgetattr(ends[1], &raw) != 0) return false;
    cfmakeraw(&raw);  // the bytes as written, no CR added to line feeds
    return tcsetattr(ends[1], TCSANOW, &raw) == 0;
}

}  // namespace

CProcess::CProcess(const std::vector<std::string>& argv, const std::string& asUser, bool terminal) {
    int pipefd[2];
    if (terminal ? !OpenTerminal(pipefd) : pipe(pipefd) != 0) return;
    m_start = MonotonicSeconds();
    m_pid = fork();
    if (m_pid == 0) {
        if (terminal) {
            setsid();
            ioctl(pipefd[1], TIOCSCTTY, 0);
        } else {
            setpgid(0, 0);
        }
        dup2(pipefd[1], STDOUT_FILENO);
        dup2(pipefd[1], STDERR_FILENO);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, STDIN_FILENO);
        close(pipefd[0]);
        close(pipefd[1]);
        if (!asUser.empty()) {
            passwd* pw = getpwnam(asUser.c_str());
            if (!pw || setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(126);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipefd[1]);
    m_fd = pipefd[0];
}

CProcess::~CProcess() {
    if (!m_finished && m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_fd >= 0) close(m_fd);
}

bool CProcess::ReadSome(int timeoutMs) {
    if (m_fd < 0) {
        poll(nullptr, 0, timeoutMs);  // nothing to read: still wait, so that callers do not spin
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(m_fd, buffer, sizeof buffer);
    if (n <= 0) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
    m_output.append(buffer, static_cast<size_t>(n));
    return true;
}

bool CProcess::WaitForOutput(const std::string& needle, double seconds, int times) {
    double deadline = MonotonicSeconds() + seconds;
    auto count = [&] {
        int found = 0;
        for (size_t at = m_output.find(needle); at != std::string::npos; at = m_output.find(needle, at + 1)) ++found;
        return found;
    };
    while (count() < times) {
        double left = deadline - MonotonicSeconds();
        if (left <= 0 || m_fd < 0) return false;
        ReadSome(static_cast<int>(left * 1000) + 1);
    }
    return true;
}

std::string CProcess::FirstLine(double seconds) {
    if (!WaitForOutput("\n", seconds)) return "";
    return m_output.substr(0, m_output.find('\n'));
}

void CProcess::HangUp() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

void CProcess::Signal(int signo) {
    if (!m_finished && m_pid > 0) kill(m_pid, signo);
}

ProcessResult CProcess::Wait(double seconds) {
    if (m_finished) return m_result;
    double deadline = MonotonicSeconds() + seconds;
    int status = 0;
    while (true) {
        ReadSome(20);
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) break;
        if (MonotonicSeconds() > deadline) {
            m_result.timedOut = true;
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
    }
    m_result.seconds = MonotonicSeconds() - m_start;
    while (ReadSome(50)) {
    }
    m_finished = true;
    m_result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_result.output = m_output;
    return m_result;
}

ProcessResult RunProgram(const std::vector<std::string>& argv, double seconds, const std::string& asUser) {
    CProcess process(argv, asUser);
    return process.Wait(seconds);
}

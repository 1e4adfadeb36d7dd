#include "pty_server.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "link/messages.h"

namespace {

constexpr int64_t NS_PER_US = 1000;
constexpr int64_t NS_PER_MS = 1000 * 1000;
constexpr int64_t NS_PER_S = 1000 * NS_PER_MS;
constexpr int64_t SPIN_NS = 200 * NS_PER_US;

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * NS_PER_S + ts.tv_nsec;
}

std::string Describe(const char* what) {
    const int saved = errno;
    return std::string(what) + ": " + strerror(saved);
}

int SetFlags(int fd) {
    const int fl = fcntl(fd, F_GETFL);
    return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Waits for one of `fds` or for `deadlineNs` (-1: none). The timeout keeps
// microsecond precision where the system allows it.
int WaitFor(pollfd* fds, int count, int64_t deadlineNs) {
#if defined(__linux__)
    if (deadlineNs < 0) return ppoll(fds, static_cast<nfds_t>(count), nullptr, nullptr);
    const int64_t left = std::max<int64_t>(deadlineNs - NowNs(), 0);
    const timespec ts{static_cast<time_t>(left / NS_PER_S), static_cast<long>(left % NS_PER_S)};
    return ppoll(fds, static_cast<nfds_t>(count), &ts, nullptr);
#else
    int ms = -1;
    if (deadlineNs >= 0)
        ms = static_cast<int>((std::max<int64_t>(deadlineNs - NowNs(), 0) + NS_PER_MS - 1) / NS_PER_MS);
    return poll(fds, static_cast<nfds_t>(count), ms);
#endif
}

}  // namespace

CKeypadPtyServer::CKeypadPtyServer(const KeypadConfig& config) : m_config(config), m_model(config) {}

CKeypadPtyServer::~CKeypadPtyServer() {
    Stop();
    CloseFd(m_slave);
    CloseFd(m_master);
    CloseFd(m_wake[0]);
    CloseFd(m_wake[1]);
}

int CKeypadPtyServer::Open(std::string& error) {
    if (m_master >= 0) return 1;
    auto fail = [&](const char* what) {
        error = Describe(what);
        CloseFd(m_slave);
        CloseFd(m_master);
        CloseFd(m_wake[0]);
        CloseFd(m_wake[1]);
        m_devicePath.clear();
        return 0;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) return fail("posix_openpt");
    if (grantpt(m_master) != 0) return fail("grantpt");
    if (unlockpt(m_master) != 0) return fail("unlockpt");
    const char* name = ptsname(m_master);
    if (name == nullptr) return fail("ptsname");
    m_devicePath = name;
    if (!SetFlags(m_master)) return fail("fcntl");

    // Raw before the loader sees it: a cooked line discipline would echo the
    // frames back and rewrite bytes such as 0x0D.
    m_slave = open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) return fail(m_devicePath.c_str());
    termios tio{};
    if (tcgetattr(m_slave, &tio) != 0) return fail("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0) return fail("tcsetattr");

    if (pipe(m_wake) != 0) return fail("pipe");
    if (!SetFlags(m_wake[0]) || !SetFlags(m_wake[1])) return fail("fcntl");
    return 1;
}

void CKeypadPtyServer::Start() {
    if (m_thread.joinable() || m_master < 0) return;
    m_stop.store(false);
    uint8_t drain[64];
    while (read(m_wake[0], drain, sizeof drain) > 0) {
    }
    m_thread = std::thread([this] { Serve(); });
}

void CKeypadPtyServer::Stop() {
    m_stop.store(true);
    if (m_wake[1] >= 0) {
        const uint8_t b = 1;
        // A full pipe already holds a wake-up.
        [[maybe_unused]] ssize_t n = write(m_wake[1], &b, 1);
    }
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void CKeypadPtyServer::Serve() {
    if (m_master < 0) return;
#if defined(__linux__)
    // The default 50 us of timer slack would show in every delayed reply.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    struct Pending {
        int64_t dueNs;
        std::vector<uint8_t> bytes;
    };
    std::deque<Pending> queue;
    size_t headSent = 0;  // bytes of the queue's head already written
    std::vector<KeypadReply> replies;
    uint8_t buffer[4096];
    int framesSeen = m_model.FramesReceived();
    int64_t lastFrameNs = NowNs();
    int64_t lastWriteNs = 0;
    const int64_t quietNs = static_cast<int64_t>(screensQuietMs) * NS_PER_MS;
    int64_t offCableUntilNs = NowNs() + static_cast<int64_t>(firstKeypadAfterMs) * NS_PER_MS;

    while (!m_stop.load(std::memory_order_acquire)) {
        int64_t now = NowNs();
        bool blocked = false;
        while (!queue.empty() && queue.front().dueNs <= now) {
            const std::vector<uint8_t>& head = queue.front().bytes;
            const ssize_t n = write(m_master, head.data() + headSent, head.size() - headSent);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    blocked = true;
                    break;
                }
                return;
            }
            lastWriteNs = now;
            headSent += static_cast<size_t>(n);
            if (headSent == head.size()) {
                queue.pop_front();
                headSent = 0;
            }
        }

        const bool screensPending = m_model.LastCommand() == CMD_SCR_DATA;
        if (exitAfterUpdate && queue.empty()) {
            if (m_model.Executed() || (screensPending && now - lastFrameNs >= quietNs)) {
                WaitUntilCollected(lastWriteNs);
                WaitForHangUp();
                return;
            }
        }

        if (swapsLeft > 0 && swapAfterUpdateMs >= 0 && queue.empty() &&
            (m_model.Executed() || m_model.FaultAnswered())) {
            WaitUntilCollected(lastWriteNs);
            --swapsLeft;
            if (onSwap) onSwap(m_model, m_config);
            m_model = CKeypadModel(m_config);
            offCableUntilNs = NowNs() + static_cast<int64_t>(swapAfterUpdateMs) * NS_PER_MS;
        }

        int64_t deadline = -1;
        if (!queue.empty() && !blocked) deadline = queue.front().dueNs;
        if (exitAfterUpdate && queue.empty() && screensPending) deadline = lastFrameNs + quietNs;

        // A sleeping thread wakes tens of microseconds late: the last stretch
        // before a reply is due is spun instead, so emulated line time stays exact.
        if (deadline >= 0 && !blocked && deadline - NowNs() < SPIN_NS) continue;

        pollfd fds[3] = {{m_master, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                         {m_wake[0], POLLIN, 0},
                         {stopFd, POLLIN, 0}};
        const int r = WaitFor(fds, stopFd >= 0 ? 3 : 2, deadline);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (r == 0) continue;
        if (fds[1].revents != 0 || (stopFd >= 0 && fds[2].revents != 0)) return;
        if (fds[0].revents & (POLLERR | POLLNVAL)) return;
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n > 0 && NowNs() < offCableUntilNs) continue;  // nobody on the cable to hear it
            if (n > 0) {
                now = NowNs();
                replies.clear();
                m_model.Receive(buffer, static_cast<size_t>(n), replies);
                for (KeypadReply& reply : replies) {
                    queue.push_back({now + static_cast<int64_t>(reply.delayUs) * NS_PER_US, std::move(reply.bytes)});
                }
                if (m_model.FramesReceived() != framesSeen) {
                    framesSeen = m_model.FramesReceived();
                    lastFrameNs = now;
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                // The held slave end rules out a hang-up; anything else here
                // would only make the loop spin.
                return;
            }
        }
    }
}

// Closing the master hangs up the slave and throws away input the loader has
// not read yet, so the last reply is given time to be collected.
void CKeypadPtyServer::WaitForHangUp() {
    // A loaded machine may take longer to move the last reply to the other side than the wait
    // above: ending now would hang the line up with the reply unread. The host closing the port
    // proves it has what it wanted; a host that keeps it open is given two seconds.
    CloseFd(m_slave);
    const int64_t limit = NowNs() + 2 * NS_PER_S;
    for (;;) {
        pollfd fds[3] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int r = WaitFor(fds, stopFd >= 0 ? 3 : 2, limit);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || fds[0].revents & (POLLHUP | POLLERR | POLLNVAL) || fds[1].revents || fds[2].revents) return;
        char discard[256];
        if (read(m_master, discard, sizeof discard) <= 0) return;  // what the host sends now is for nobody
    }
}

void CKeypadPtyServer::WaitUntilCollected(int64_t lastWriteNs) {
    // The pty hands bytes over on a work queue: an empty input queue right
    // after a write proves nothing, so it must stay empty a little while.
    constexpr int64_t SETTLE_NS = 20 * NS_PER_MS;
    const int64_t limit = NowNs() + 2 * NS_PER_S;
    for (;;) {
        int pending = 0;
        if (ioctl(m_slave, FIONREAD, &pending) != 0) return;
        const int64_t now = NowNs();
        if ((pending == 0 && now - lastWriteNs >= SETTLE_NS) || now >= limit) return;
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (WaitFor(fds, stopFd >= 0 ? 2 : 1, now + 2 * NS_PER_MS) > 0) return;
    }
}

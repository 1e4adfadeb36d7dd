#include "sim/pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes SYNC = {0xF0, 0x00, 0x02, 0x55, 0xAA, 0xFF};
const Bytes ACK = {0xF0, 0x01, 0x06, 0x06};
const Bytes OK = {0xF0, 0x01, 0xE0, 0xE0};

// The loader's end of the line: the device opened as a serial port.
class Port {
public:
    explicit Port(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios tio{};
        if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Port() {
        if (m_fd >= 0) close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    void Close() {
        close(m_fd);
        m_fd = -1;
    }
    void Write(const Bytes& b) { ASSERT_EQ(write(m_fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    // Reads until `count` bytes came or `ms` passed.
    Bytes Read(size_t count, int ms) {
        Bytes got;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
            uint8_t buf[64];
            const ssize_t n = read(m_fd, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

private:
    int m_fd;
};

struct Served {
    explicit Served(const KeypadConfig& config) : server(config) {
        std::string error;
        EXPECT_EQ(server.Open(error), 1) << error;
    }
    CKeypadPtyServer server;
};

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

TEST(KeypadPtyServer, AnswersSyncAndSurvivesTheLoaderReopeningThePort) {
    Served s{KeypadConfig{}};
    s.server.Start();
    for (int round = 0; round < 3; ++round) {
        {
            Port port(s.server.DevicePath());
            ASSERT_TRUE(port.IsOpen());
            port.Write(SYNC);
            EXPECT_EQ(port.Read(ACK.size(), 500), ACK) << "round " << round;
        }
        // Long enough for the server to notice that nobody holds the port.
        usleep(20000);
    }
}

TEST(KeypadPtyServer, RepliesLeaveInOrderAfterTheLineTime) {
    KeypadConfig c;
    c.baud = 2400;  // 6 + 4 bytes at 10 bits: 41.7 ms
    c.duplicateReply = 1;
    Served s{c};
    s.server.Start();
    Port port(s.server.DevicePath());
    const auto sent = Clock::now();
    port.Write(SYNC);
    EXPECT_EQ(port.Read(ACK.size(), 500), ACK);
    const double ms = MsSince(sent);
    EXPECT_GE(ms, 41.6);
    EXPECT_LT(ms, 120.0);
    // The duplicate follows one reply's line time (16.7 ms) later.
    EXPECT_EQ(port.Read(ACK.size(), 500), ACK);
    EXPECT_GE(MsSince(sent), 58.3);
}

TEST(KeypadPtyServer, StopReturnsPromptlyWithAReplyPending) {
    KeypadConfig c;
    c.replyDelayMs = 5000;
    Served s{c};
    s.server.Start();
    Port port(s.server.DevicePath());
    port.Write(SYNC);
    EXPECT_TRUE(port.Read(1, 50).empty());
    const auto t = Clock::now();
    s.server.Stop();
    EXPECT_LT(MsSince(t), 200.0);
}

TEST(KeypadPtyServer, ExitAfterUpdateEndsAtExecuteOrAQuietLineAfterScreens) {
    {
        Served s{KeypadConfig{}};
        s.server.exitAfterUpdate = true;
        auto serving = std::async(std::launch::async, [&] { s.server.Serve(); });
        Port port(s.server.DevicePath());
        port.Write({0xF0, 0x00, 0x01, 0x77, 0x77});  // execute
        EXPECT_EQ(port.Read(OK.size(), 500), OK);
        // Until the host lets go of the port, its last reply may be on its way still.
        EXPECT_EQ(serving.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
        port.Close();
        EXPECT_EQ(serving.wait_for(std::chrono::seconds(1)), std::future_status::ready);
        s.server.Stop();  // so a Serve() that missed the end still returns
        serving.wait();
        EXPECT_TRUE(s.server.Model().Executed());
    }
    KeypadConfig c;
    c.sectorSize = 16;
    Served s{c};
    s.server.exitAfterUpdate = true;
    s.server.screensQuietMs = 100;
    auto serving = std::async(std::launch::async, [&] { s.server.Serve(); });
    Port port(s.server.DevicePath());
    port.Write({0xF0, 0x00, 0x03, 0x84, 0x01, 0x01, 0x86});  // erase screens sector 1
    EXPECT_EQ(port.Read(OK.size(), 500), OK);
    port.Write({0xF0, 0x01, 0x05, 0xA0, 0x00, 0x00, 0x00, 0x00, 0xA0});  // index 0
    EXPECT_EQ(port.Read(OK.size(), 500), OK);
    port.Write({0xF0, 0x02, 0x03, 0x91, 0x12, 0x34, 0xD7});  // screens chunk 12 34
    EXPECT_EQ(port.Read(OK.size(), 500), OK);
    // Not yet: the quiet time runs from the chunk on.
    EXPECT_EQ(serving.wait_for(std::chrono::milliseconds(40)), std::future_status::timeout);
    port.Close();
    EXPECT_EQ(serving.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    s.server.Stop();
    serving.wait();
    EXPECT_EQ(s.server.Model().AreaContents(KEYPAD_AREA_SCREENS), (Bytes{0x12, 0x34}));
}

}  // namespace

// The port layers in-process. On a real pseudo-terminal: what waits before
// the open is dropped, zero bytes come through, a closed port ignores every
// call, the line is set as configured, and a line that hangs up is reported once. On local sockets: network
// servers that never negotiate or never answer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

#include "serial/network/network_port.h"
#include "serial/port_factory.h"
#include "serial/port_lock.h"
#include "serial/serial_port.h"
#include "session/port_binding.h"
#include "support/fake_host.h"
#include "support/scratch_dir.h"

namespace {

struct PtyPair {
    int master = -1;
    std::string device;
    PtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        grantpt(master);
        unlockpt(master);
        device = ptsname(master);
        int slave = open(device.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        close(slave);
    }
    ~PtyPair() {
        if (master >= 0) close(master);
    }
    void Send(const std::string& bytes) { ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
};

long LockPid(const std::string& lock) {
    FILE* file = fopen(lock.c_str(), "r");
    long pid = 0;
    if (file && fscanf(file, "%ld", &pid) != 1) pid = 0;
    if (file) fclose(file);
    return pid;
}

// The settings store of these tests lives in a folder of their own.
QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "serial_port_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static const std::filesystem::path settings = MakeScratchDir("serial-port-settings");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(settings.string()));
    return app;
}

// A settings store that names the port as Preferences would.
void StorePort(CSettingsStore& settings, int comPort, const std::string& portName) {
    settings.WriteInt(KEY_COM_PORT, comPort);
    settings.WriteString(KEY_PORT_NAME, portName);
}

}  // namespace

// The name's form picks the port's kind; two names of one kind share it, so the binding keeps
// its port object between them. An empty name (COM 0) opens nothing and says why.
TEST(PortFactory, TheNameChoosesTheKindOfPort) {
    App();
    std::string reason;
    for (const char* name : {"tcp://keypad-gw:2000", "RFC2217://[::1]:7000", "ssh://host:22"}) {
        std::unique_ptr<IPortLayer> layer = MakePortLayer(name, reason);
        EXPECT_NE(dynamic_cast<CNetworkPort*>(layer.get()), nullptr) << name;
    }
    for (const std::string& name : {std::string("/dev/ttyUSB0"), ComDeviceName(3), std::string("COM12")}) {
        std::unique_ptr<IPortLayer> layer = MakePortLayer(name, reason);
        EXPECT_NE(dynamic_cast<CSerialPort*>(layer.get()), nullptr) << name;
        EXPECT_FALSE(layer->IsOpen());
    }
    EXPECT_TRUE(reason.empty()) << reason;
    EXPECT_EQ(PortTypeOf("/dev/ttyUSB0", reason), PortTypeOf("/dev/ttyACM1", reason));
    EXPECT_NE(PortTypeOf("/dev/ttyUSB0", reason), PortTypeOf("tcp://keypad-gw:2000", reason));
    EXPECT_EQ(MakePortLayer("", reason), nullptr);
    EXPECT_EQ(reason, "no serial port is chosen");
}

TEST(SerialPort, ClosedPortIgnoresEveryCall) {
    App();
    CSerialPort port;
    port.SetBreak(true);
    const uint8_t frame[] = {0xF0, 0x00};
    port.Write(frame, 2);
    EXPECT_TRUE(port.Read().isEmpty());
    EXPECT_FALSE(port.IsOpen());
}

// The keypad's line by default, and any other as configured, as the device
// itself reports it (a pseudo-terminal keeps 8 data bits and no parity
// whatever it is told, so those two go unchecked here).
TEST(SerialPort, TheLineIsSetAsConfigured) {
    App();
    LineConfig other;
    other.baud = 9600;
    other.stopBits = QSerialPort::TwoStop;
    other.flow = QSerialPort::HardwareControl;
    struct Case {
        LineConfig line;
        speed_t speed;
        tcflag_t stopBits;
        tcflag_t flow;
    } cases[] = {{LineConfig(), B115200, 0, 0}, {other, B9600, CSTOPB, CRTSCTS}};
    for (const Case& c : cases) {
        PtyPair pty;
        CSerialPort port(nullptr, c.line);
        std::string reason;
        ASSERT_EQ(port.Open(pty.device, reason), 1) << reason;
        int fd = open(pty.device.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        close(fd);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stopBits);
        EXPECT_EQ(t.c_cflag & CRTSCTS, c.flow);
    }
}

TEST(SerialPort, BindingDropsWhatWaitedAndPassesZeroBytes) {
    App();
    PtyPair pty;
    FakeHost host;
    CSettingsStore settings;
    StorePort(settings, 1, pty.device);
    CPortBinding binding(host.Engine(), settings);
    pty.Send(std::string("\xF0\x01\xE1\xE1", 4));  // waiting before the open: not a reply
    ASSERT_EQ(binding.OpenComPort(), 1);
    EXPECT_EQ(host.LastStatus(), "COM Port: " + pty.device + " selected ");
    QTest::qWait(50);
    EXPECT_EQ(host.LastStatus(), "COM Port: " + pty.device + " selected ");

    // A test under way, and an ACK whose frame has zero bytes in front of it.
    host.Engine().OnTestConnection();
    pty.Send(std::string("\x00\x00\xF0\x01\x06\x06", 6));
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.LastStatus() == "ORBIX detected!"; }, 2000)) << host.LastStatus();

    // Frames go out through the binding in one write.
    const uint8_t frame[] = {0xF0, 0x00, 0x02, 0x55, 0xAA, 0xFF};
    binding.WriteFrameToPort(frame, 6);
    char sent[16];
    ASSERT_TRUE(QTest::qWaitFor([&] { return read(pty.master, sent, sizeof sent) == 6; }, 1000));
    EXPECT_EQ(std::string(sent, 6), std::string(reinterpret_cast<const char*>(frame), 6));
}

TEST(SerialPort, HangUpIsReportedOnceAndEndsTheOperation) {
    App();
    auto pty = std::make_unique<PtyPair>();
    FakeHost host;
    CSettingsStore settings;
    StorePort(settings, 1, pty->device);
    CPortBinding binding(host.Engine(), settings);
    ASSERT_EQ(binding.OpenComPort(), 1);
    int lost = 0;
    binding.onPortLost = [&](bool) { ++lost; };
    host.Engine().OnTestConnection();
    std::string device = pty->device;
    pty.reset();  // the other end goes away
    EXPECT_TRUE(QTest::qWaitFor([&] { return !host.Engine().IsBusy(); }, 2000));
    QTest::qWait(100);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(binding.IsOpen());
    EXPECT_EQ(host.LastStatus(), "COM Port: " + device + " not available");
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_PORT_LOST);
}

TEST(SerialPort, PortThatIsNotThereIsReportedToTheCaller) {
    App();
    FakeHost host;
    CSettingsStore settings;
    StorePort(settings, 0, "");
    CPortBinding binding(host.Engine(), settings);
    EXPECT_EQ(binding.OpenComPort(), 0);
    // The caller says so, in a box or not: the binding shows nothing.
    EXPECT_EQ(binding.NotAvailableText(), "COM Port: 0 not available");
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_FALSE(binding.OpenFailureReason().empty());
    // Unchanged settings: nothing to reopen after Preferences.
    EXPECT_FALSE(binding.StoredPortChanged());
    settings.WriteInt(KEY_COM_PORT, 1);
    EXPECT_TRUE(binding.StoredPortChanged());
}

// Anyone may write into the lock folder: a lock file counts only with a live
// process behind it that has the device open, and then the refusal names it.
TEST(SerialPort, OnlyALiveHolderKeepsThePort) {
    App();
    PtyPair pty;
    const std::string lock = PortLockPath(pty.device);
    ASSERT_FALSE(lock.empty());
    auto plant = [&](const std::string& command) {
        ::unlink(lock.c_str());
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    };
    const std::string stale[] = {
        "su nobody -s /bin/sh -c 'echo garbage > " + lock + "'",  // junk, of another user
        "ln -s /nonexistent/target " + lock,                      // dangling symlink
        "sh -c 'echo $$ > " + lock + "'",                         // a program that has ended
        "printf '%10d\n' 1 > " + lock,                           // alive, but not holding the device
    };
    for (const std::string& command : stale) {
        plant(command);
        CSerialPort port;
        std::string reason;
        EXPECT_EQ(port.Open(pty.device, reason), 1) << command << ": " << reason;
        struct stat taken {};
        EXPECT_TRUE(::lstat(lock.c_str(), &taken) == 0 && S_ISREG(taken.st_mode)) << command;
        EXPECT_EQ(LockPid(lock), ::getpid()) << command;
    }
    // A live holder: a child with the device open and its id in the lock.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(pty.device.c_str(), O_RDWR | O_NOCTTY);
        (void)write(ready[1], &fd, 1);
        pause();
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    plant("printf '%10d\n' " + std::to_string(child) + " > " + lock);
    CSerialPort port;
    std::string reason;
    EXPECT_EQ(port.Open(pty.device, reason), 0);
    EXPECT_EQ(reason, pty.device + ": in use by another program (serial_port_tes, process " + std::to_string(child) + ")");
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ::unlink(lock.c_str());
}

// A server on the IPv6 loopback that accepts and then says nothing: no RFC 2217
// session comes about, while raw TCP needs none.
TEST(NetworkPort, SilentServerOnIpv6) {
    App();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHostIPv6));
    const std::string address = "[::1]:" + std::to_string(server.serverPort());

    CNetworkPort port(300);
    std::string reason;
    EXPECT_EQ(port.Open("rfc2217://" + address, reason), 0);
    EXPECT_EQ(reason, address + ": the server did not complete the RFC 2217 negotiation within 0.3 seconds");
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(port.Open("tcp://" + address, reason), 1) << reason;
    EXPECT_TRUE(port.LowLatency());
}

// A listener whose queue is full drops further connection requests: the
// open gives up at its deadline.
TEST(NetworkPort, ServerThatNeverAnswersTimesOut) {
    App();
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string name = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    CNetworkPort first(300);
    CNetworkPort second(300);
    std::string reason;
    ASSERT_EQ(first.Open(name, reason), 1) << reason;  // fills the queue
    EXPECT_EQ(second.Open(name, reason), 0);
    EXPECT_EQ(reason, name.substr(6) + ": no answer within 0.3 seconds");
    close(listener);
}

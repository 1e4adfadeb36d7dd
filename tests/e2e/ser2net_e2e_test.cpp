// orbix-flash through a real serial device server: Debian's ser2net on
// 127.0.0.1 in front of orbix-keypad-sim, with an RFC 2217 accepter and with a
// raw TCP one.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "program_test.h"
#include "support/loopback_port.h"

namespace {

const char* const SER2NET = "/usr/sbin/ser2net";

// Whether something listens on 127.0.0.1:port; asked of the kernel, since a
// trial connection would open the server's device.
bool Listening(int port) {
    char needle[32];
    std::snprintf(needle, sizeof needle, "0100007F:%04X 00000000:0000 0A", port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);)
        if (line.find(needle) != std::string::npos) return true;
    return false;
}

class Ser2netE2E : public ProgramTest {
protected:
    void TearDown() override {
        server.reset();
        ProgramTest::TearDown();
    }

    // Starts ser2net with an accepter of this kind ("rfc2217" or "tcp") in
    // front of the device; returns the name to give --port.
    std::string StartServer(const std::string& kind, const std::string& device) {
        int port = FreeTcpPort();
        std::string accepter = kind == "rfc2217" ? "telnet(rfc2217),tcp" : "tcp";
        // chardelay off: the server would hold each reply back a few milliseconds for more to come.
        std::string config =
            Write("ser2net.yaml", "%YAML 1.1\n---\nconnection: &keypad\n  accepter: " + accepter + ",127.0.0.1," +
                                      std::to_string(port) + "\n  connector: serialdev," + device +
                                      ",115200n81,local\n  options:\n    chardelay: false\n");
        server = std::make_unique<CProcess>(std::vector<std::string>{SER2NET, "-d", "-u", "-c", config});
        for (double end = MonotonicSeconds() + 5; !Listening(port) && MonotonicSeconds() < end;) usleep(10000);
        EXPECT_TRUE(Listening(port)) << server->Output();
        return kind + "://127.0.0.1:" + std::to_string(port);
    }

    std::unique_ptr<CProcess> server;
};

// Each test once through an RFC 2217 accepter, once through a raw TCP one.
class Ser2netAccepters : public Ser2netE2E, public ::testing::WithParamInterface<std::string> {};

}  // namespace

TEST_P(Ser2netAccepters, FirmwareAndScreensUpdatesLeaveTheFilesInTheKeypad) {
    std::string port = StartServer(GetParam(), StartSim({"--screens-last-sector", "2"}));
    std::string firmware = EXAMPLES + "/demo-firmware.s";
    std::string screens = EXAMPLES + "/demo-screens.bin";
    ProcessResult r = Flash({"--port", port, "--yes", "firmware", firmware});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "COM Port: " + port + " selected \n")) << r.output;
    EXPECT_TRUE(Has(r.output, "Firmare update complete")) << r.output;
    r = Flash({"--port", port, "--yes", "--quiet", "screens", screens});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    StopSim();
    std::string expected = (dir / "expected.bin").string();
    ASSERT_EQ(RunProgram({"/usr/bin/srec_cat", firmware, "-motorola", "-o", expected, "-binary"}).exitCode, 0);
    EXPECT_TRUE(ReadAll(dir / "firmware.bin") == ReadAll(expected));
    EXPECT_TRUE(ReadAll(dir / "screens.bin") == ReadAll(screens));
}

TEST_P(Ser2netAccepters, ServerStoppedInTheDataPhaseEndsTheUpdate) {
    std::string port = StartServer(GetParam(), StartSim({"--baud", "115200"}));
    CProcess flash({FLASH, "--port", port, "--yes", "firmware", EXAMPLES + "/demo-firmware.s"});
    ASSERT_TRUE(flash.WaitForOutput("Sending firmware data", 10)) << flash.Output();
    usleep(200000);
    double killed = MonotonicSeconds();
    server->Signal(SIGKILL);
    ProcessResult r = flash.Wait(10);
    double after = MonotonicSeconds() - killed;
    std::printf("[ server stopped ] %s: the update ended %.3f s after the kill\n", GetParam().c_str(), after);
    EXPECT_LT(after, 2.0);
    EXPECT_EQ(r.exitCode, 3) << r.output;  // failed after the first erase
    // The lost port ends it: said as a status and once on stderr, then what the keypad is left with.
    std::string lost = "COM Port: " + port + " not available\n";
    std::string ending = lost + "orbix-flash: " + lost +
                         "orbix-flash: The keypad holds no valid firmware and stays in its update mode: run the "
                         "update again.\n";
    ASSERT_GE(r.output.size(), ending.size());
    EXPECT_EQ(r.output.substr(r.output.size() - ending.size()), ending) << r.output;
}

INSTANTIATE_TEST_SUITE_P(Network, Ser2netAccepters, ::testing::Values("rfc2217", "tcp"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST_F(Ser2netE2E, ConnectionTestFoundAndNotFound) {
    // One reply, then silence: the first test finds the keypad, the second does not.
    std::string port = StartServer("rfc2217", StartSim({"--silent-after", "1"}));
    ProcessResult found = Flash({"--port", port, "test"});
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_TRUE(Has(found.output, "ORBIX detected!")) << found.output;
    ProcessResult silent = Flash({"--port", port, "test"});
    EXPECT_EQ(silent.exitCode, 1) << silent.output;
    EXPECT_TRUE(Has(silent.output, "Connecting: No response from ORBIX")) << silent.output;
}

TEST_F(Ser2netE2E, PortsThatCannotBeOpenedSendNothing) {
    std::string refused = "rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort());
    struct Case {
        std::string port, reason;
    };
    for (const Case& c : {Case{refused, "connection refused"},
                          Case{"tcp://no-such-keypad-server.invalid:4001", "the name does not resolve"}}) {
        ProcessResult r = Flash({"--port", c.port, "--trace", "test"}, 10);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_TRUE(Has(r.output, "COM Port: " + c.port + " not available\n")) << r.output;
        EXPECT_TRUE(Has(r.output, c.reason)) << r.output;
        EXPECT_FALSE(Has(r.output, "] ->")) << c.port << ": a frame was sent";
        EXPECT_LT(r.seconds, 5.0);
    }

    // A server that confirms 9600 7E1 once the offers came, then one that never negotiates.
    int port = 0;
    int listener = LoopbackSocket(port);
    ASSERT_EQ(listen(listener, 4), 0);
    std::string server = "rfc2217://127.0.0.1:" + std::to_string(port);
    std::thread wrongLine([listener] {
        int client = accept(listener, nullptr, nullptr);
        char offers[64];
        const unsigned char answer[] = {0xFF, 0xFD, 0x2C, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x25, 0x80,
                                        0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x66, 0x07, 0xFF, 0xF0, 0xFF, 0xFA,
                                        0x2C, 0x67, 0x03, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF,
                                        0xF0, 0xFF, 0xFA, 0x2C, 0x69, 0x01, 0xFF, 0xF0};
        if (read(client, offers, sizeof offers) > 0) {
            EXPECT_EQ(write(client, answer, sizeof answer), 41);
        }
        while (read(client, offers, sizeof offers) > 0) {
        }
        close(client);
    });
    ProcessResult wrong = Flash({"--port", server, "--trace", "test"}, 10);
    wrongLine.join();
    EXPECT_EQ(wrong.exitCode, 2) << wrong.output;
    EXPECT_TRUE(Has(wrong.output, server.substr(10) + ": the server set 9600 7E1, not 115200 8N1\n")) << wrong.output;
    EXPECT_FALSE(Has(wrong.output, "] ->")) << wrong.output;
    CProcess silent({FLASH, "--port", server, "test"});
    usleep(500000);
    double interrupted = MonotonicSeconds();
    silent.Signal(SIGINT);
    EXPECT_EQ(silent.Wait(10).exitCode, 130) << silent.Output();
    EXPECT_LT(MonotonicSeconds() - interrupted, 1.0);
    close(listener);
}

// 100 firmware updates in a row through one keypad session each, on a fresh
// simulated keypad with a random fault the protocol recovers from: all
// complete, and neither memory nor open descriptors grow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "session/gang_runner.h"
#include "session/keypad_session.h"
#include "sim/pty_server.h"
#include "support/process_stats.h"

namespace {

// Faults at the guarded steps, which a resend recovers: the ACK to the probe
// (reply 1) or the memory identification (reply 2), lost or with a bad sum.
KeypadConfig RandomKeypad(std::mt19937& random) {
    KeypadConfig config;
    config.firmwareLastSector = 6 + static_cast<int>(random() % 4);
    // One update in ten or so has a fault the loader recovers from by resending;
    // each leaves a reply owed, which holds that update's end 6 s.
    switch (random() % 32) {
    case 1:
        config.dropFrom = 2;
        break;
    case 2:
        config.corruptReply = 2;
        break;
    case 3:
        config.corruptReply = 1;
        break;
    default:
        break;
    }
    return config;
}

// Sessions in this process: a Qt application, and a folder of its own that
// also holds the settings store.
struct InProcess {
    explicit InProcess(const char* stem)
        : dir(std::filesystem::temp_directory_path() / (std::string(stem) + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    ~InProcess() { std::filesystem::remove_all(dir); }
    int argc = 1;
    char name[8] = "orbix";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    std::filesystem::path dir;
};

// Answers as a script would, and counts the questions.
class CScriptedPolicy : public ISessionPolicy {
public:
    Answer erase = ANSWER_NO;
    int pending = 0;
    int asked = 0;
    Reply ConfirmErase(const std::string&) override {
        ++asked;
        return {erase, erase == ANSWER_YES ? "" : "no erase today"};
    }
    Reply AcceptDamagedFile(const std::string&) override { return {ANSWER_NO, ""}; }
    int PendingInterrupt() const override { return pending; }
};

// Keeps the failures' reasons.
class CErrorsSink : public CNullSink {
public:
    void Error(const std::string& text) override { errors += text + "\n"; }
    std::string errors;
};

}  // namespace

TEST(Soak, HundredFirmwareUpdatesThroughTheCommandLineHost) {
    InProcess process("orbix-soak-");
    const std::filesystem::path& dir = process.dir;
    std::string image = (dir / "small.s").string();
    {
        std::ofstream out(image);
        out << "S0030000FC\n";
        for (int line = 0; line < 64; ++line) {
            char record[80];
            unsigned address = static_cast<unsigned>(line * 16), sum = 0x13 + (address >> 8) + (address & 0xFF);
            int n = std::snprintf(record, sizeof record, "S113%04X", address);
            for (int i = 0; i < 16; ++i) {
                unsigned byte = static_cast<unsigned>((line * 31 + i * 7) & 0xFF);
                sum += byte;
                n += std::snprintf(record + n, sizeof record - static_cast<size_t>(n), "%02X", byte);
            }
            std::snprintf(record + n, sizeof record - static_cast<size_t>(n), "%02X\n", 0xFF - (sum & 0xFF));
            out << record;
        }
    }

    SessionRequest request;
    request.command = KEYPAD_FIRMWARE;
    request.file = image;
    request.yes = true;
    request.quiet = true;
    CScriptedPolicy policy;
    std::mt19937 random(20261207);
    int fdsAfterWarmUp = 0;
    long memoryAfterWarmUp = 0;
    for (int run = 0; run < 100; ++run) {
        if (run == 10) {
            fdsAfterWarmUp = OpenDescriptors();
            memoryAfterWarmUp = ResidentKiB();
        }
        CKeypadPtyServer keypad(RandomKeypad(random));
        std::string error;
        ASSERT_TRUE(keypad.Open(error)) << error;
        keypad.Start();
        {
            CNullSink view;
            CKeypadSession host(request, view, policy);
            ASSERT_EQ(host.Run(keypad.DevicePath()), EXIT_OK) << "update " << run;
        }
        keypad.Stop();
        ASSERT_EQ(keypad.Model().AreaContents(KEYPAD_AREA_FIRMWARE).size(), 1024u);
    }
    int fds = OpenDescriptors();
    long memory = ResidentKiB();
    std::printf("open descriptors after 10 updates: %d, after 100: %d\n", fdsAfterWarmUp, fds);
    std::printf("resident memory after 10 updates: %ld KiB, after 100: %ld KiB\n", memoryAfterWarmUp, memory);
    EXPECT_EQ(fds, fdsAfterWarmUp);
#ifndef ORBIX_SANITIZE_BUILD  // the sanitizers' quarantine holds freed memory on purpose
    EXPECT_LT(memory - memoryAfterWarmUp, 1024) << "memory grew by more than 1 MiB over 90 updates";
#endif
}

// An interruption that came while the file was read (before the event loop
// runs) stops the command before the probe: the keypad sees nothing at all.
// A declined erase, and one nobody could answer, send nothing either.
TEST(KeypadSession, AnInterruptionOrAnEraseNotConfirmedSendsNothing) {
    InProcess process("orbix-interrupt-");
    const std::filesystem::path& dir = process.dir;
    SessionRequest request;
    request.command = KEYPAD_FIRMWARE;
    request.file = (dir / "one.s").string();
    std::ofstream(request.file) << "S0030000FC\nS1050000AA0050\n";
    struct Case {
        ISessionPolicy::Answer erase;
        int pending;
        int exitCode;
        const char* reason;
    } cases[] = {{ISessionPolicy::ANSWER_YES, EXIT_INTERRUPTED, EXIT_INTERRUPTED, "Interrupted before anything was sent."},
                 {ISessionPolicy::ANSWER_NO, 0, EXIT_FAILED, "no erase today"},
                 {ISessionPolicy::ANSWER_NONE, 0, EXIT_USAGE, "no erase today"}};
    for (const Case& c : cases) {
        CKeypadPtyServer keypad{KeypadConfig()};
        std::string error;
        ASSERT_TRUE(keypad.Open(error)) << error;
        keypad.Start();
        CScriptedPolicy policy;
        policy.erase = c.erase;
        policy.pending = c.pending;
        CErrorsSink view;
        CKeypadSession host(request, view, policy);
        EXPECT_EQ(host.Run(keypad.DevicePath()), c.exitCode);
        EXPECT_EQ(policy.asked, c.pending ? 0 : 1);
        EXPECT_NE(view.errors.find(c.reason), std::string::npos) << view.errors;
        keypad.Stop();
        EXPECT_EQ(keypad.Model().FramesReceived(), 0u) << c.exitCode;
    }
}

// The runner for many keypads stops on a call: every session running ends
// with the call's code, and so does the run.
TEST(GangRunner, AStopCallEndsEverySession) {
    InProcess process("orbix-gang-stop-");
    KeypadConfig silent;
    silent.silent = true;
    std::vector<std::unique_ptr<CKeypadPtyServer>> keypads;
    std::vector<PortTarget> targets;
    for (int i = 0; i < 2; ++i) {
        keypads.push_back(std::make_unique<CKeypadPtyServer>(silent));
        std::string error;
        ASSERT_TRUE(keypads.back()->Open(error)) << error;
        keypads.back()->Start();
        targets.push_back({keypads.back()->DevicePath(), keypads.back()->DevicePath()});
    }
    SessionRequest request;
    CScriptedPolicy policy;
    CGangRunner runner(request, policy);
    CNullSink quiet;
    std::vector<ISessionSink*> sinks(targets.size(), &quiet);
    QTimer::singleShot(500, [&] { runner.Interrupt(EXIT_TERMINATED); });
    std::vector<SessionResult> results = runner.Run(targets, KEYPAD_TEST, sinks);
    ASSERT_EQ(results.size(), 2u);
    for (const SessionResult& r : results) EXPECT_EQ(r.exitCode, EXIT_TERMINATED) << r.port;
    EXPECT_EQ(CombinedExitCode(results, EXIT_TERMINATED), EXIT_TERMINATED);
    for (auto& keypad : keypads) keypad->Stop();
}

// Two keypads' codes against each other, each row and column in the order
// 0 1 2 3 4 130 143: what the run exits with (4, records lost, is the run's own).
TEST(CombinedExitCode, EveryPairRanksByWhatTheLineMustKnowFirst) {
    const int codes[] = {0, 1, 2, 3, 4, 130, 143};
    const int combined[7][7] = {{0, 1, 2, 3, 4, 130, 143},   {1, 1, 1, 3, 4, 130, 143},   {2, 1, 2, 3, 4, 130, 143},
                                {3, 3, 3, 3, 3, 130, 143},   {4, 4, 4, 3, 4, 130, 143},   {130, 130, 130, 130, 130, 130, 143},
                                {143, 143, 143, 143, 143, 143, 143}};
    for (int i = 0; i < 49; ++i) {
        SessionResult a, b;
        a.exitCode = codes[i / 7];
        b.exitCode = codes[i % 7];
        EXPECT_EQ(CombinedExitCode({a, b}, 0), combined[i / 7][i % 7]) << a.exitCode << " with " << b.exitCode;
    }
}

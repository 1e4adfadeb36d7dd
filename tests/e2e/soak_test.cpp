// 100 firmware updates in a row through the command line's host, each on a
// fresh simulated keypad with a random fault the protocol recovers from: all
// complete, and neither memory nor open descriptors grow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "cli/cli_host.h"
#include "cli/gang_runner.h"
#include "cli/interrupts.h"
#include "cli/terminal_view.h"
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

// The command line's host in this process: a Qt application, and a folder of
// its own that also holds the settings store.
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

    CliOptions options;
    options.command = CLI_FIRMWARE;
    options.file = image;
    options.yes = true;
    options.quiet = true;
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
            CTerminalView view(true, false);
            CCliHost host(options, view);
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

// A Ctrl-C that arrives while the file is read (before the event loop runs)
// stops the command before the probe: the keypad sees nothing at all.
TEST(CliHostInterrupt, APendingSignalSendsNothing) {
    InProcess process("orbix-interrupt-");
    const std::filesystem::path& dir = process.dir;
    CliOptions options;
    options.command = CLI_FIRMWARE;
    options.file = (dir / "one.s").string();
    std::ofstream(options.file) << "S0030000FC\nS1050000AA0050\n";
    options.yes = true;
    CKeypadPtyServer keypad{KeypadConfig()};
    std::string error;
    ASSERT_TRUE(keypad.Open(error)) << error;
    keypad.Start();
    g_interruptSignal = SIGINT;
    CTerminalView view(true, false);
    CCliHost host(options, view);
    EXPECT_EQ(host.Run(keypad.DevicePath()), 130);
    g_interruptSignal = 0;
    keypad.Stop();
    EXPECT_EQ(keypad.Model().FramesReceived(), 0u);
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

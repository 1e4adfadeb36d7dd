// 100 firmware updates in a row through one keypad session each, on a fresh
// simulated keypad with a random fault the protocol recovers from: all
// complete, and neither memory nor open descriptors grow.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "session/keypad_session.h"
#include "sim/pty_server.h"
#include "support/in_process_session.h"
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

#pragma once
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "session/bench_profile.h"
#include "sim/simulated_keypad.h"

// --simulate[=N]: N simulated keypads, each on a port of its own, coming and
// going by themselves a few seconds apart (one now and then answering Failed),
// and a profile for them in memory that sends the demo firmware.
class CBenchSimulation {
public:
    static constexpr int MOST_SLOTS = 32;

    // 0 with `error` when a keypad or the demo firmware could not be set up.
    int Start(int keypads, const std::string& log, std::string& error);
    const BenchProfile& Profile() const { return m_profile; }
    // Where the profile's relative names start.
    std::string ProfilePath() const;

private:
    QTemporaryDir m_folder;
    std::vector<std::unique_ptr<CSimulatedKeypad>> m_keypads;
    std::atomic<int> m_arrivals{0};  // keypads put on the cables, for which one fails next
    BenchProfile m_profile;
};

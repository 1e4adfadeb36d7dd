#pragma once
// A test that runs orbix-flash against orbix-keypad-sim in a folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "process.h"

inline const std::string FLASH = ORBIX_FLASH_PATH;
inline const std::string SIM = ORBIX_SIM_PATH;
inline const std::string EXAMPLES = ORBIX_EXAMPLES_DIR;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& ch : name)
            if (ch == '/') ch = '-';
        namespace fs = std::filesystem;
        dir = fs::temp_directory_path() / ("orbix-e2e-" + std::to_string(getpid()) + "-" + name);
        fs::create_directories(dir);
        // Others may need to reach files in here (the runs as another user).
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        // The command line reads the settings store: keep it away from the user's.
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        sim.reset();
        std::filesystem::remove_all(dir);
    }

    // Starts the simulator, dumping into the test's folder; returns its device path.
    std::string StartSim(std::vector<std::string> options) {
        std::vector<std::string> argv = {SIM, "--dump-dir", dir.string()};
        argv.insert(argv.end(), options.begin(), options.end());
        sim = std::make_unique<CProcess>(argv);
        std::string device = sim->FirstLine(5);
        EXPECT_EQ(device.rfind("/dev/", 0), 0u) << sim->Output();
        return device;
    }
    // Stops the simulator so that it writes its dump files.
    void StopSim() {
        sim->Signal(SIGTERM);
        EXPECT_EQ(sim->Wait(5).exitCode, 0);
    }
    ProcessResult Flash(std::vector<std::string> args, double seconds = 60, const std::string& asUser = "") {
        args.insert(args.begin(), FLASH);
        return RunProgram(args, seconds, asUser);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path dir;
    std::unique_ptr<CProcess> sim;
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

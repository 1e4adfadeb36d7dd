#pragma once
// A test that runs orbix-flash against orbix-keypad-sim in a folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "process.h"

inline const std::string FLASH = ORBIX_FLASH_PATH;
inline const std::string LOADER = ORBIX_LOADER_PATH;
inline const std::string BENCH = ORBIX_BENCH_PATH;
inline const std::string SIM = ORBIX_SIM_PATH;
inline const std::string EXAMPLES = ORBIX_EXAMPLES_DIR;
inline const std::string TEST_DATA = ORBIX_TEST_DATA_DIR;

// Twenty image bytes 0x00..0x13 from address 0: one data chunk, checksum
// 0x1011 + 0x1213 = 0x2224, end index 0x10000 + 19 / 2 = 0x10009.
inline const char* const SMALL_FIRMWARE =
    "S0030000FC\nS1170000000102030405060708090A0B0C0D0E0F101112132A\nS9030000FC\n";

inline bool Has(const std::string& output, const std::string& needle) {
    return output.find(needle) != std::string::npos;
}

// The last occurrence of `needle` in a --trace output comes before no frame from the loader.
inline bool NoFrameAfter(const std::string& output, const std::string& needle) {
    size_t at = output.rfind(needle);
    return at != std::string::npos && output.find("] ->", at) == std::string::npos;
}

// Sets an environment variable for the programs started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_had) setenv(m_name, m_old.c_str(), 1);
        else unsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    std::string m_old;
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether Qt's lock file for `device` is still there (/dev/pts/3 gives LCK..pts_3).
// The process id a lock file of `device` names (0 when it names none), -1 when there is no lock.
inline long LockFileOwner(const std::string& device) {
    std::string name = device.substr(device.rfind("/dev/", 0) == 0 ? 5 : 0);
    for (char& ch : name)
        if (ch == '/') ch = '_';
    for (const char* folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        std::ifstream lock(std::string(folder) + "/LCK.." + name);
        if (!lock) continue;
        long pid = 0;
        lock >> pid;
        return pid > 0 ? pid : 0;
    }
    return -1;
}

// A lock left behind names no live process. Pseudo-terminal numbers are reused, so a live
// program of another test may hold a lock of the same name: that one is not ours.
inline bool LockFileLeft(const std::string& device) {
    long pid = LockFileOwner(device);
    return pid == 0 || (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

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

    // Starts a simulator dumping into `dumpDir`; `device` gets its path.
    static std::unique_ptr<CProcess> LaunchSim(const std::filesystem::path& dumpDir,
                                               const std::vector<std::string>& options, std::string& device) {
        std::vector<std::string> argv = {SIM, "--dump-dir", dumpDir.string()};
        argv.insert(argv.end(), options.begin(), options.end());
        auto process = std::make_unique<CProcess>(argv);
        device = process->FirstLine(5);
        EXPECT_EQ(device.rfind("/dev/", 0), 0u) << process->Output();
        return process;
    }
    // Starts the simulator, dumping into the test's folder; returns its device path.
    std::string StartSim(std::vector<std::string> options) {
        std::string device;
        sim = LaunchSim(dir, options, device);
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
    // The same with stdout thrown away: the output is stderr alone.
    ProcessResult FlashStderr(std::vector<std::string> args, double seconds = 60) {
        args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null", FLASH});
        return RunProgram(args, seconds);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path dir;
    std::unique_ptr<CProcess> sim;
};


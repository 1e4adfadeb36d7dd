// orbix-flash's output: progress on a pipe and on a terminal, updates that
// outlive the pipe they print to, and a hang-up that ends them as a signal does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "program_test.h"

namespace {

class OutputE2E : public ProgramTest {
protected:
    // 553 data chunks: with the simulator's --write-ms the data phase lasts.
    const std::string file = TEST_DATA + "/s2_crlf.s";

    // The keypad holds the whole image, and the port was let go of properly.
    void ExpectImageInstalled(const std::string& device) {
        StopSim();
        EXPECT_TRUE(ReadAll(dir / "firmware.bin") == ReadAll(TEST_DATA + "/s2_crlf.bin"));
        EXPECT_FALSE(LockFileLeft(device));
    }
};

// What each line shows once everything erased on it is gone.
std::vector<std::string> VisibleLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        size_t erased = line.rfind("\r\033[K");
        lines.push_back(erased == std::string::npos ? line : line.substr(erased + 4));
    }
    return lines;
}

}  // namespace

TEST_F(OutputE2E, PipeClosedDuringTheEraseEndsNothing) {
    std::string device = StartSim({"--erase-ms", "300"});
    // head leaves after three lines, long before the four erases are answered.
    ProcessResult r = RunProgram({"/bin/bash", "-c", "\"$@\" | head -n 3; exit ${PIPESTATUS[0]}", "bash", FLASH, "-y",
                                  "-p", device, "firmware", file});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 3) << r.output;
    ExpectImageInstalled(device);
}

// Nobody reads the trace: the keypad is updated in its own time all the same.
TEST_F(OutputE2E, PipeNobodyReadsHoldsUpNothing) {
    std::string device = StartSim({"--exit-after-update"});
    CProcess flash({"/bin/bash", "-c", "trap 'kill 0' TERM; \"$@\" 2>&1 | sleep 40 & wait", "bash", FLASH, "-y",
                    "--trace", "-p", device, "firmware", file});
    ProcessResult ended = sim->Wait(20);
    EXPECT_EQ(ended.exitCode, 0) << "the update did not end while the pipe was full";
    EXPECT_TRUE(ReadAll(dir / "firmware.bin") == ReadAll(TEST_DATA + "/s2_crlf.bin"));
    flash.Signal(SIGTERM);
    flash.Wait(5);
}

TEST_F(OutputE2E, HangUpDuringTheDataPhaseEndsItAsTheOtherSignalsDo) {
    std::string device = StartSim({"--write-ms", "4"});
    const std::string log = (dir / "hang-up.jsonl").string();
    CProcess flash({FLASH, "-y", "-p", device, "--log", log, "firmware", file}, "", true);
    ASSERT_TRUE(flash.WaitForOutput("Sending firmware data", 10)) << flash.Output();
    flash.HangUp();
    EXPECT_EQ(flash.Wait(30).exitCode, 128 + SIGHUP);
    const std::string records = ReadAll(log);
    EXPECT_TRUE(Has(records, "\"exit_code\":129") && Has(records, "\"outcome\":\"interrupted\"")) << records;
    EXPECT_FALSE(LockFileLeft(device));
}

namespace {
bool WaitFor(const std::function<bool()>& done, double seconds) {
    for (double end = MonotonicSeconds() + seconds; MonotonicSeconds() < end; usleep(50000))
        if (done()) return true;
    return done();
}

// Lock files naming `pid` (/var/lock is often /run/lock by another name: each counted once).
size_t LocksHeldBy(pid_t pid) {
    std::set<std::filesystem::path> held;
    for (const char* folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            long owner = 0;
            if (entry.path().filename().string().rfind("LCK..", 0) == 0 && std::ifstream(entry.path()) >> owner &&
                owner == pid)
                held.insert(std::filesystem::canonical(entry.path(), error));
        }
    }
    return held.size();
}
}  // namespace

// The window, ended by a signal, lets go of its port and its lock file as File > Exit does;
// the bench, ended by one mid-update or by its display going away (as on a hang-up), records
// each slot's unit as interrupted with that exit code first, and never crashes.
TEST_F(OutputE2E, WindowAndBenchEndedBySignalLeaveNoLock) {
    auto endBench = [&](const std::string& where, const std::function<void(CProcess&)>& end, int exitCode) {
        const std::string log = (dir / ("bench-" + std::to_string(exitCode) + ".jsonl")).string();
        CProcess bench({"/usr/bin/env", where, BENCH, "--simulate=2", "--log", log});
        ASSERT_TRUE(WaitFor([&] { return LocksHeldBy(bench.Pid()) == 2u; }, 10)) << bench.Output();
        usleep(3000000);  // both keypads have come (1.1 s) and are within their ten seconds of update
        end(bench);
        EXPECT_EQ(bench.Wait(10).exitCode, exitCode) << bench.Output();
        EXPECT_EQ(LocksHeldBy(bench.Pid()), 0u);
        const std::string records = ReadAll(log);  // one per slot, each with what it had sent
        const std::regex interrupted("\"bytes_sent\":[1-9][^\n]*\"exit_code\":" + std::to_string(exitCode) +
                                     ",[^\n]*\"outcome\":\"interrupted\"");
        EXPECT_EQ(std::distance(std::sregex_iterator(records.begin(), records.end(), interrupted), {}), 2) << records;
        EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 4) << records;  // each unit's begin and end
    };
    endBench(
        "QT_QPA_PLATFORM=offscreen", [](CProcess& bench) { bench.Signal(SIGTERM); }, 143);
    if (access("/usr/bin/Xvfb", X_OK) == 0) {
        const std::string display = ":" + std::to_string(100 + getpid() % 800);
        CProcess x({"/usr/bin/Xvfb", display, "-nolisten", "tcp"});
        usleep(1000000);
        ScopedEnv shown("DISPLAY", display);
        endBench(
            "QT_QPA_PLATFORM=xcb", [&](CProcess&) { x.Signal(SIGKILL); }, 128 + SIGHUP);
    }

    std::string device = StartSim({});
    for (int signo : {SIGTERM, SIGHUP, SIGINT}) {
        CProcess window({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", LOADER, "--port", device});
        ASSERT_TRUE(WaitFor([&] { return LockFileOwner(device) > 0; }, 10)) << window.Output();
        window.Signal(signo);
        EXPECT_EQ(window.Wait(10).exitCode, 128 + signo);
        EXPECT_FALSE(LockFileLeft(device)) << "signal " << signo;
    }
}

TEST_F(OutputE2E, PipeGetsALineAtEveryTenthOfTheData) {
    std::string device = StartSim({"--write-ms", "3"});
    ProcessResult r = Flash({"-y", "-p", device, "firmware", file});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(Has(r.output, "\033")) << r.output;
    size_t data = r.output.find("Sending firmware data\n");
    size_t after = r.output.find("Sending firmware checksum query\n");
    ASSERT_LT(data, after) << r.output;
    std::string phase = r.output.substr(data, after - data);
    std::regex line(R"(\nSent (\d+)%, (\d+) seconds? remaining(?=\n))");
    std::vector<int> tenths;
    for (std::sregex_iterator it(phase.begin(), phase.end(), line), end; it != end; ++it) {
        tenths.push_back(std::stoi((*it)[1]));
        // 553 chunks at 3 ms or more: about two seconds in all.
        EXPECT_LE(std::stoi((*it)[2]), 10) << it->str();
    }
    EXPECT_EQ(tenths, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90})) << phase;
    EXPECT_TRUE(Has(phase, "\nSent 90%, 1 second remaining\n")) << phase;
    EXPECT_TRUE(phase.ends_with("\nSent 100%\n")) << phase;
}

TEST_F(OutputE2E, TerminalGetsTheBarWithTraceLinesBesideItAndDumbTerminalsNoEscapes) {
    std::string device = StartSim({"--write-ms", "2"});
    {
        ScopedEnv term("TERM", "xterm");
        CProcess flash({FLASH, "-y", "--trace", "-p", device, "firmware", file}, "", true);
        ProcessResult r = flash.Wait(60);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(Has(r.output, "\r\033[K[####")) << "no bar was drawn";
        std::regex trace(R"(\[ *\d+\.\d{3}\] (->|<-)( [0-9A-F]{2})+)");
        int traced = 0;
        for (const std::string& visible : VisibleLines(r.output)) {
            if (std::regex_match(visible, trace))
                ++traced;
            else
                EXPECT_FALSE(Has(visible, "[") || Has(visible, "%")) << "a line written onto the bar: " << visible;
        }
        EXPECT_GT(traced, 1100);  // two lines for each of the 553 chunks
    }
    ScopedEnv term("TERM", "dumb");
    CProcess flash({FLASH, "-y", "-p", device, "firmware", file}, "", true);
    ProcessResult r = flash.Wait(60);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(Has(r.output, "\033")) << r.output;
    EXPECT_TRUE(Has(r.output, "\nSent 50%, ")) << r.output;
}

// Many keypads on a pipe: their trace lines interleave, so each names its port.
// A terminal narrowed during a gang (one port with --retries is one): its live line is drawn to the new width.
TEST_F(OutputE2E, GangLinesFollowANarrowedTerminal) {
    std::string device = StartSim({"--write-ms", "6"});
    CProcess flash({"/bin/bash", "-c", "stty cols 100 </dev/tty; \"$@\" & sleep 1.5; stty cols 50 </dev/tty; wait",
                    "bash", FLASH, "-y", "--retries", "1", "-p", device, "firmware", file},
                   "", true);
    ProcessResult r = flash.Wait(60);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::string last;
    for (const std::string& line : VisibleLines(r.output))
        if (Has(line, "% ["))
            last = line.substr(line.rfind("\033[J") == std::string::npos ? 0 : line.rfind("\033[J") + 3);
    EXPECT_GT(last.size(), 40u) << r.output;
    EXPECT_LE(last.size(), 49u) << last;
}

TEST_F(OutputE2E, TraceOfManyKeypadsOnAPipeNamesThePortOnEveryLine) {
    ProcessResult r = FlashStderr({"--simulate", "2", "--trace", "test"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::regex traced(R"((/dev/\S+): \[ *\d+\.\d{3}\] (->|<-)( [0-9A-F]{2})+)");
    std::set<std::string> ports;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, traced)) << line;
        ports.insert(m[1]);
    }
    EXPECT_EQ(ports.size(), 2u) << r.output;
}

// Many keypads from one orbix-flash: at once, found by probing, one after
// another on a station, and the record every unit leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <map>
#include <regex>
#include <set>

#include "program_test.h"

namespace fs = std::filesystem;

namespace {

class GangE2E : public ProgramTest {
protected:
    struct Keypad {
        std::unique_ptr<CProcess> process;
        std::string device;
        fs::path dump;
    };
    Keypad& AddKeypad(const std::vector<std::string>& options) {
        keypads.reserve(16);  // the references handed out stay good
        Keypad k;
        k.dump = dir / ("keypad" + std::to_string(keypads.size() + 1));
        fs::create_directories(k.dump);
        k.process = LaunchSim(k.dump, options, k.device);
        keypads.push_back(std::move(k));
        return keypads.back();
    }
    std::vector<std::string> PortArgs() const {
        std::vector<std::string> args;
        for (const Keypad& k : keypads) args.insert(args.end(), {"-p", k.device});
        return args;
    }
    void StopKeypads() {
        for (Keypad& k : keypads) {
            k.process->Signal(SIGTERM);
            k.process->Wait(5);
        }
    }
    static std::vector<QJsonObject> JsonLines(const std::string& text) {
        std::vector<QJsonObject> objects;
        for (const QString& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts)) {
            QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8());
            if (doc.isObject()) objects.push_back(doc.object());
        }
        return objects;
    }
    // A log's results: each update's begin record before it left out.
    static std::vector<QJsonObject> LogResults(const fs::path& log) {
        std::vector<QJsonObject> lines = JsonLines(ReadAll(log));
        std::erase_if(lines, [](const QJsonObject& o) { return o["type"] == "begin"; });
        return lines;
    }
    // A fleet file naming every keypad, "unit-N" after each.
    std::string FleetFile(const std::string& extra = "") {
        std::string text = "# the keypads of this test\n\n";
        for (size_t i = 0; i < keypads.size(); ++i)
            text += keypads[i].device + "  unit-" + std::to_string(i + 1) + "\n";
        return Write("fleet.txt", text + extra);
    }
    static double StartSeconds(const QJsonObject& o) {
        return QDateTime::fromString(o["start"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch() / 1000.0;
    }
    std::vector<Keypad> keypads;
};

std::string Sha256(const std::string& path) {
    ProcessResult r = RunProgram({"/usr/bin/sha256sum", path});
    return r.output.substr(0, 64);
}

const std::string FIRMWARE = TEST_DATA + "/s1_gaps.s";  // 11,192 bytes of image
const std::string FIRMWARE_IMAGE = TEST_DATA + "/s1_gaps.bin";

}  // namespace

TEST_F(GangE2E, FourKeypadsAtOnceEachGetTheWholeImageAndARecord) {
    for (int i = 0; i < 4; ++i) AddKeypad({"--baud", "115200"});
    std::string log = (dir / "units.jsonl").string();
    std::vector<std::string> args = PortArgs();
    args.insert(args.end(), {"--yes", "--json", "--log", log, "firmware", FIRMWARE});
    ProcessResult r = Flash(args, 60);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    StopKeypads();
    for (Keypad& k : keypads) EXPECT_TRUE(ReadAll(k.dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE)) << k.device;

    // At the same time: every keypad's data phase began before any ended.
    std::map<std::string, double> began, ended;
    std::map<std::string, int> lastPercent;
    std::vector<QJsonObject> results;
    for (const QJsonObject& o : JsonLines(r.output)) {
        EXPECT_TRUE(o.contains("t")) << o["type"].toString().toStdString();
        std::string port = o["port"].toString().toStdString();
        std::string type = o["type"].toString().toStdString();
        if (type == "status" && o["text"] == "Sending firmware data") began[port] = o["t"].toDouble();
        if (type == "status" && o["text"] == "Firmare update complete") ended[port] = o["t"].toDouble();
        if (type == "progress") {
            EXPECT_TRUE(o.contains("remaining"));
            if (lastPercent.count(port)) {
                EXPECT_GT(o["percent"].toInt(), lastPercent[port]) << port;
            }
            lastPercent[port] = o["percent"].toInt();
        }
        if (type == "result") results.push_back(o);
    }
    ASSERT_EQ(began.size(), 4u) << r.output;
    ASSERT_EQ(ended.size(), 4u);
    double lastStart = 0, firstEnd = 1e9;
    for (auto& [port, t] : began) lastStart = std::max(lastStart, t);
    for (auto& [port, t] : ended) firstEnd = std::min(firstEnd, t);
    EXPECT_LT(lastStart, firstEnd);
    for (auto& [port, percent] : lastPercent) EXPECT_EQ(percent, 100) << port;

    // The record, field by field, on stdout and in the log.
    ASSERT_EQ(results.size(), 4u);
    std::string sha = Sha256(FIRMWARE);
    for (const QJsonObject& o : results) {
        EXPECT_EQ(o["command"].toString(), "firmware");
        EXPECT_EQ(o["file"].toString().toStdString(), FIRMWARE);
        EXPECT_EQ(o["sha256"].toString().toStdString(), sha);
        EXPECT_EQ(o["image_length"].toInt(), 11192);
        EXPECT_EQ(o["bytes_sent"].toInt(), 11192);
        EXPECT_EQ(o["outcome"].toString(), "ok");
        EXPECT_EQ(o["exit_code"].toInt(), 0);
        EXPECT_EQ(o["last_text"].toString(), "Firmare update complete");
        QJsonObject id = o["memory_id"].toObject();
        EXPECT_EQ(id["firmware_last_sector"].toInt(), 9);
        EXPECT_EQ(id["program_index"].toInt(), 0x10000);
        EXPECT_FALSE(id.contains("screens_last_sector"));
        EXPECT_TRUE(std::regex_match(o["start"].toString().toStdString(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
        EXPECT_GT(o["seconds"].toDouble(), 0.5);
    }
    EXPECT_EQ(LogResults(log).size(), 4u);
    // The log grows across runs.
    AddKeypad({});
    ProcessResult again = Flash({"-p", keypads.back().device, "--log", log, "test"});
    EXPECT_EQ(again.exitCode, 0) << again.output;
    std::vector<QJsonObject> logged = LogResults(log);
    ASSERT_EQ(logged.size(), 5u);
    EXPECT_EQ(logged.back()["command"].toString(), "test");
}

TEST_F(GangE2E, OneFailsOneStallsOneVanishesAndTheFourthCompletes) {
    Keypad& good = AddKeypad({"--baud", "115200"});
    Keypad& failing = AddKeypad({"--fail-command", "fw-data"});
    AddKeypad({"--silent-after", "8"});
    Keypad& vanishing = AddKeypad({"--baud", "115200"});
    std::string goodDevice = good.device, failingDevice = failing.device, vanishingDevice = vanishing.device;
    std::vector<std::string> args = {FLASH};
    for (const std::string& a : PortArgs()) args.push_back(a);
    args.insert(args.end(), {"--yes", "--stall-timeout", "2", "firmware", FIRMWARE});
    CProcess flash(args);
    ASSERT_TRUE(flash.WaitForOutput(vanishingDevice + ": Sending firmware data", 10)) << flash.Output();
    keypads[3].process->Signal(SIGKILL);
    ProcessResult r = flash.Wait(20);
    EXPECT_EQ(r.exitCode, 3) << r.output;
    EXPECT_TRUE(Has(r.output, goodDevice + ": Firmare update complete")) << r.output;
    EXPECT_TRUE(Has(r.output, failingDevice + ": Got \"Failed\" back from keypad.")) << r.output;
    EXPECT_TRUE(Has(r.output, "No reply from ORBIX for 2 seconds")) << r.output;
    EXPECT_TRUE(Has(r.output, vanishingDevice + ": COM Port: " + vanishingDevice + " not available")) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("\nok [^\n]*  " + goodDevice + "\n"))) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("\nincomplete [^\n]*  " + failingDevice + "\n"))) << r.output;
    keypads[0].process->Signal(SIGTERM);
    keypads[0].process->Wait(5);
    EXPECT_TRUE(ReadAll(keypads[0].dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE));
}

TEST_F(GangE2E, AnAutoPortUsesTheOneKeypadThatAnswers) {
    std::string pattern = "auto:" + (dir / "kp*").string();
    ProcessResult none = FlashStderr({"-p", pattern, "test"});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(Has(none.output, "no device matches")) << none.output;

    AddKeypad({"--silent", "--link", (dir / "kp1").string()});
    none = FlashStderr({"-p", pattern, "test"}, 20);
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.output, "orbix-flash: no keypad answered on " + (dir / "kp1").string() + "\n");
    keypads[0].process->Signal(SIGTERM);  // its link goes with it: the probes below are quick
    keypads[0].process->Wait(5);

    AddKeypad({"--link", (dir / "kp2").string()});
    ProcessResult one = Flash({"-p", pattern, "test"}, 20);
    EXPECT_EQ(one.exitCode, 0) << one.output;
    EXPECT_TRUE(Has(one.output, "COM Port: " + (dir / "kp2").string() + " selected")) << one.output;

    AddKeypad({"--link", (dir / "kp3").string()});
    ProcessResult two = FlashStderr({"-p", pattern, "test"}, 20);
    EXPECT_EQ(two.exitCode, 2);
    EXPECT_TRUE(Has(two.output, "2 keypads answered: " + (dir / "kp2").string() + ", " + (dir / "kp3").string()))
        << two.output;
    two = Flash({"-p", pattern, "--json", "test"}, 20);  // a script learns why on stdout too
    EXPECT_EQ(two.exitCode, 2);
    EXPECT_TRUE(Has(two.output, "{\"port\":\"\",\"t\":") && Has(two.output, ",\"text\":\"2 keypads answered: "));
    ProcessResult all = Flash({"-p", pattern, "--all", "--yes", "--quiet", "firmware", FIRMWARE}, 30);
    EXPECT_EQ(all.exitCode, 0) << all.output;
    EXPECT_EQ(all.output, "") << "--quiet: errors only, no table";
    ProcessResult scan = Flash({"-p", pattern, "scan"}, 20);
    EXPECT_EQ(scan.exitCode, 0) << scan.output;
    // The table lists the keypads that answered, with both records' fields.
    EXPECT_TRUE(std::regex_search(scan.output, std::regex("\nok .* 9 +3 +0x10000 +0x00000021  [^\n]*/kp2\n")))
        << scan.output;
    EXPECT_FALSE(Has(scan.output, "kp1")) << scan.output;
}

TEST_F(GangE2E, AStationUpdatesOneKeypadAfterAnotherOnOnePort) {
    std::string link = (dir / "station").string();
    std::string log = (dir / "station.jsonl").string();
    AddKeypad({"--link", link, "--exit-after-update"});
    CProcess flash({FLASH, "-p", link, "--repeat", "--yes", "--log", log, "firmware", FIRMWARE});
    ASSERT_TRUE(flash.WaitForOutput("Waiting for the next keypad", 30)) << flash.Output();
    AddKeypad({"--link", link, "--exit-after-update"});
    ASSERT_TRUE(flash.WaitForOutput("Waiting for the next keypad", 30, 2)) << flash.Output();
    flash.Signal(SIGINT);
    ProcessResult r = flash.Wait(15);
    EXPECT_EQ(r.exitCode, 130) << r.output;
    EXPECT_TRUE(Has(r.output, "station stopped: 0 update(s) running were aborted")) << r.output;
    for (Keypad& k : keypads) {
        k.process->Wait(5);
        EXPECT_TRUE(ReadAll(k.dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE)) << k.dump;
    }
    std::vector<QJsonObject> units = LogResults(log);
    ASSERT_EQ(units.size(), 2u) << ReadAll(log);
    for (const QJsonObject& o : units) EXPECT_EQ(o["outcome"].toString(), "ok");
}

// Stopped while a half-written keypad waits for its next attempt: it counts by that attempt, not as not run.
TEST_F(GangE2E, ARunStoppedDuringTheBackOffCountsTheKeypadByItsLastAttempt) {
    ScopedEnv delay("ORBIX_RETRY_DELAY_MS", "20000");
    for (bool json : {false, true}) {
        const std::string& device = AddKeypad({"--fail-command", "fw-data"}).device;  // it fails one chunk once
        std::vector<std::string> args = {FLASH, "-p", device, "--retries", "1", "--yes", "firmware", FIRMWARE};
        if (json) args.insert(args.begin() + 1, "--json");
        CProcess flash(args);
        ASSERT_TRUE(flash.WaitForOutput(json ? "\"type\":\"retry\"" : "trying again in 20 s", 30)) << flash.Output();
        flash.Signal(SIGINT);
        ProcessResult r = flash.Wait(10);
        EXPECT_EQ(r.exitCode, 130) << r.output;
        if (json) {
            EXPECT_TRUE(Has(r.output, "\"failed\":1,\"not_run\":0")) << r.output;
        } else {
            EXPECT_TRUE(std::regex_search(r.output, std::regex("\nincomplete .*" + device + "\n"))) << r.output;
            EXPECT_TRUE(Has(r.output, "done 1 of 1, ok 0, failed 1, waiting 0")) << r.output;
        }
    }
}

// Keypads swapped on the cable of one port 0.6 s apart, found through an auto
// port: each updated once, and a unit that stays is not updated again.
TEST_F(GangE2E, AJigSwappingKeypadsOnOnePortUpdatesEachOnce) {
    std::string jig = (dir / "jig").string(), log = (dir / "jig.jsonl").string();
    AddKeypad({"--link", jig, "--swap-after-update", "600", "--swaps", "2"});
    fs::create_symlink(jig, dir / "same");
    ProcessResult twice = FlashStderr({"-p", jig, "-p", (dir / "same").string(), "test"});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_EQ(twice.output,
              "orbix-flash: --port " + jig + " and --port " + (dir / "same").string() + " are the same port\n");

    CProcess flash(
        {FLASH, "-p", "auto:" + (dir / "ji*").string(), "--repeat", "--yes", "--log", log, "firmware", FIRMWARE});
    ASSERT_TRUE(flash.WaitForOutput("Waiting for the keypad to be removed (previous unit: ok)", 30, 3))
        << flash.Output();
    flash.WaitForOutput("Waiting for the next keypad", 1.5, 3);  // it must not come
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Wait(10).exitCode, 130) << flash.Output();
    std::vector<QJsonObject> units = LogResults(log);
    ASSERT_EQ(units.size(), 3u) << flash.Output();
    for (const QJsonObject& o : units) EXPECT_EQ(o["outcome"].toString(), "ok");
    StopKeypads();
    EXPECT_TRUE(ReadAll(keypads[0].dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE));
}

// A bench's profile tried from a terminal: each slot a station on its port (one found by a pattern),
// the image beside the profile pinned, a failed unit tried again in its slot, the records named by slot.
TEST_F(GangE2E, ABenchProfileRunsEachSlotAsAStationWithItsName) {
    ScopedEnv delay("ORBIX_RETRY_DELAY_MS", "100");
    std::string jigA = (dir / "jig-a").string(), jigB = (dir / "jig-b").string();
    AddKeypad({"--link", jigA, "--swap-after-update", "600"});
    AddKeypad({"--link", jigB, "--fail-command", "fw-data"});  // fails one chunk once
    fs::copy_file(FIRMWARE, dir / "line.s");
    std::string profile =
        Write("line.orbix-bench", "[bench]\ncommand = firmware\nimage = line.s\nsha256 = " + Sha256(FIRMWARE) +
                                      "\nlog = records.jsonl\nretries = 1\n"
                                      "[slots]\nSlot A = auto:" +
                                      dir.string() + "/jig-a*\nSlot B = " + jigB + "\n");
    CProcess flash({FLASH, "--profile", profile, "--yes"});
    ASSERT_TRUE(flash.WaitForOutput("Waiting for the keypad to be removed (previous unit: ok)", 40, 3))
        << flash.Output();
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Wait(10).exitCode, 130) << flash.Output();
    std::map<std::string, std::vector<std::string>> outcomes;  // by slot name: each attempt's
    for (const QJsonObject& o : LogResults(dir / "records.jsonl")) {
        outcomes[o["unit"].toString().toStdString()].push_back(o["outcome"].toString().toStdString());
        EXPECT_EQ(o["sha256"].toString().toStdString(), Sha256(FIRMWARE));
    }
    EXPECT_EQ(outcomes["Slot A"], (std::vector<std::string>{"ok", "ok"})) << flash.Output();
    EXPECT_EQ(outcomes["Slot B"], (std::vector<std::string>{"incomplete", "ok"})) << flash.Output();
    StopKeypads();
    for (Keypad& k : keypads) EXPECT_TRUE(ReadAll(k.dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE)) << k.dump;
}

// Started before its first keypad, and the next unit on Enter, though the
// keypads are swapped within 0.3 s: no unit skipped, no phantom failure.
TEST_F(GangE2E, AStationOnEnterWaitsForItsFirstKeypadAndForEnter) {
    std::string jig = (dir / "jig").string(), log = (dir / "jig.jsonl").string(), input = (dir / "input").string();
    AddKeypad({"--link", jig, "--first-keypad-after", "4600", "--swap-after-update", "300"});
    ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
    int enter = open(input.c_str(), O_RDWR | O_CLOEXEC);
    CProcess flash({"/bin/sh", "-c", "exec \"$0\" \"$@\" <" + input, FLASH, "-p", jig, "--repeat=enter", "--yes",
                    "--log", log, "firmware", FIRMWARE});
    ASSERT_TRUE(flash.WaitForOutput("Press Enter for the next keypad (previous unit: ok)", 30)) << flash.Output();
    EXPECT_TRUE(Has(flash.Output(), "Waiting for a keypad")) << flash.Output();
    EXPECT_EQ(LogResults(log).size(), 1u) << ReadAll(log);
    ASSERT_EQ(write(enter, "\n", 1), 1);
    ASSERT_TRUE(flash.WaitForOutput("Press Enter for the next keypad", 30, 2)) << flash.Output();
    close(enter);  // the end of the input ends the station
    EXPECT_EQ(flash.Wait(10).exitCode, 0) << flash.Output();
    std::vector<QJsonObject> units = LogResults(log);
    ASSERT_EQ(units.size(), 2u) << ReadAll(log);
    for (const QJsonObject& o : units) EXPECT_EQ(o["outcome"].toString(), "ok");
}

TEST_F(GangE2E, CtrlCAbortsEveryKeypadRunning) {
    for (int i = 0; i < 4; ++i) AddKeypad({"--baud", "115200"});
    std::string log = (dir / "units.jsonl").string();
    std::vector<std::string> args = {FLASH};
    for (const std::string& a : PortArgs()) args.push_back(a);
    args.insert(args.end(), {"--yes", "--log", log, "firmware", EXAMPLES + "/demo-firmware.s"});
    CProcess flash(args);
    for (Keypad& k : keypads)
        ASSERT_TRUE(flash.WaitForOutput(k.device + ": Sending firmware data", 15)) << flash.Output();
    double interrupted = MonotonicSeconds();
    flash.Signal(SIGINT);
    ProcessResult r = flash.Wait(10);
    EXPECT_LT(MonotonicSeconds() - interrupted, 3.0);
    EXPECT_EQ(r.exitCode, 130) << r.output;
    std::vector<QJsonObject> units = LogResults(log);
    ASSERT_EQ(units.size(), 4u);
    for (const QJsonObject& o : units) {
        EXPECT_EQ(o["outcome"].toString(), "interrupted");
        EXPECT_EQ(o["last_text"].toString(), "Operation aborted.");
        EXPECT_GT(o["bytes_sent"].toInt(), 0);
    }
}

// Twelve keypads from a file, four at a time; one refuses its Memory ID once
// (nothing erased), one fails a data chunk once (left half-written): both
// come back at the end of the queue and succeed.
TEST_F(GangE2E, AFleetFileRunsFourAtATimeAndRetriesTheFailedAtTheEnd) {
    for (int i = 0; i < 10; ++i) AddKeypad({"--baud", "115200"});
    AddKeypad({"--baud", "115200", "--fail-command", "fw-mem-id"});
    AddKeypad({"--baud", "115200", "--fail-command", "fw-data"});
    std::string fleet = FleetFile();
    ProcessResult bad = FlashStderr({"--ports-from", FleetFile("tcp://127.0.0.1:9 lobby\nCOM0x spare\n"), "test"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.output, "line 16: \"COM0x\" is not a port")) << bad.output;
    bad = FlashStderr({"--ports-from", FleetFile("tcp://localhost:9\n" + keypads[3].device + " again\n"), "test"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.output, "fleet.txt line 6 (" + keypads[3].device + ") and " + dir.string() +
                                    "/fleet.txt line 16 (" + keypads[3].device + ") are the same port"))
        << bad.output;
    bad = FlashStderr(
        {"--ports-from", Write("cp1252.txt", "# Windows-1252\n" + keypads[0].device + " B\xfcro\n"), "test"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.output, "cp1252.txt line 2: \"" + keypads[0].device + " B\\xfcro\" is not UTF-8 text"))
        << bad.output;
    // What Windows editors save: a UTF-8 mark before a comment, "Unicode" (UTF-16 with its mark) either way round;
    // a unit name that would clear the screen is shown escaped.
    std::string lines = "# first\n" + keypads[0].device + " X\x1b[2JY\n" + keypads[1].device +
                        " S\xc3\xbc"
                        "d\n";
    QString text = QString::fromUtf8(lines);
    std::string le(reinterpret_cast<const char*>(text.utf16()), static_cast<size_t>(text.size()) * 2), be = le;
    for (size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    for (const std::string& bytes : {"\xEF\xBB\xBF" + lines, "\xFF\xFE" + le, "\xFE\xFF" + be}) {
        ProcessResult r = Flash({"--ports-from", Write("windows.txt", bytes), "test"});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(Has(r.output, "X\\x1b[2JY (" + keypads[0].device + "): ORBIX detected!")) << r.output;
        EXPECT_TRUE(Has(r.output,
                        "S\xc3\xbc"
                        "d (" +
                            keypads[1].device + "): ORBIX detected!"))
            << r.output;
        EXPECT_FALSE(Has(r.output, "\x1b[2J")) << r.output;
    }
    bad = RunProgram({"/bin/sh", "-c", "exec \"$0\" \"$@\" </dev/null", FLASH, "-p", keypads[0].device, "--ports-from",
                      "-", "test"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.output, "--ports-from - names no port")) << bad.output;

    ScopedEnv delay("ORBIX_RETRY_DELAY_MS", "200");
    ProcessResult r = Flash(
        {"--ports-from", FleetFile(), "--jobs", "4", "--retries", "2", "--json", "--yes", "firmware", FIRMWARE}, 120);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    StopKeypads();
    for (Keypad& k : keypads) EXPECT_TRUE(ReadAll(k.dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE)) << k.device;

    std::vector<std::pair<double, double>> spans;  // of every attempt
    std::map<std::string, std::vector<QJsonObject>> attempts;
    QJsonObject summary;
    for (const QJsonObject& o : JsonLines(r.output)) {
        if (o["type"] == "summary") summary = o;
        if (o["type"] != "result") continue;
        attempts[o["unit"].toString().toStdString()].push_back(o);
        spans.push_back({StartSeconds(o), StartSeconds(o) + o["seconds"].toDouble()});
    }
    ASSERT_EQ(attempts.size(), 12u) << r.output;
    int most = 0;
    for (auto& [start, end] : spans) {
        // Running when this one started. A start is calendar time and a duration is timed from
        // an instant near it, which a loaded machine may put tens of milliseconds apart: a slack
        // of 100 ms, a tenth of an update, so a fifth keypad run at once still shows.
        int at = 0;
        for (auto& [s, e] : spans) at += s <= start + 0.100 && start < e - 0.100;
        most = std::max(most, at);
    }
    EXPECT_EQ(most, 4);
    double lastFirst = 0;
    for (auto& [unit, list] : attempts) lastFirst = std::max(lastFirst, StartSeconds(list[0]));
    for (const char* unit : {"unit-11", "unit-12"}) {
        ASSERT_EQ(attempts[unit].size(), 2u) << unit;
        EXPECT_EQ(attempts[unit][0]["outcome"].toString(), unit == std::string("unit-11") ? "failed" : "incomplete");
        EXPECT_EQ(attempts[unit][1]["attempt"].toInt(), 2);
        EXPECT_EQ(attempts[unit][1]["outcome"].toString(), "ok");
        EXPECT_GE(StartSeconds(attempts[unit][1]) + 0.002, lastFirst) << "a retry waits behind every first attempt";
    }
    EXPECT_EQ(attempts["unit-1"][0]["port"].toString().toStdString(), keypads[0].device);
    EXPECT_EQ(summary["total"].toInt(), 12);
    EXPECT_EQ(summary["ok"].toInt(), 12);
    EXPECT_EQ(summary["failed"].toInt(), 0);
    EXPECT_EQ(summary["exit_code"].toInt(), 0);
}

// A fleet run killed with SIGKILL half-way, started again with the same
// command: each keypad ends its simulator after one update, so one updated
// twice would fail the second run, and one missed would keep its old flash.
TEST_F(GangE2E, AFleetKilledHalfWayAndResumedUpdatesEveryKeypadOnce) {
    auto options = [this](size_t i) {
        return std::vector<std::string>{"--baud", "115200", "--exit-after-update", "--link",
                                        (dir / ("kp" + std::to_string(i + 1))).string()};
    };
    for (size_t i = 0; i < 8; ++i) AddKeypad(options(i)).device = options(i).back();
    std::string log = (dir / "fleet.jsonl").string();
    std::vector<std::string> args = {FLASH, "--ports-from", FleetFile(), "--jobs", "2",        "--resume",
                                     log,   "--log",        log,         "--yes",  "firmware", FIRMWARE};
    auto results = [&] { return LogResults(log); };
    CProcess first(args);
    double deadline = MonotonicSeconds() + 60;
    while (results().size() < 3 && MonotonicSeconds() < deadline) usleep(20000);
    first.Signal(SIGKILL);
    first.Wait(5);
    size_t done = results().size();
    ASSERT_GE(done, 3u);
    ASSERT_LT(done, 8u) << "killed too late to test anything";
    // The kill may fall between a keypad's last reply and its record: that keypad was updated (its
    // simulator ended and wrote its flash) but has no record, so it is updated again, as a real
    // keypad still on the cable would be. A fresh simulator takes its place.
    usleep(300000);
    std::string records = ReadAll(log);
    std::set<std::string> cutOff, ended;  // begun and never ended: said to be updated again
    for (const QJsonObject& o : JsonLines(records))
        if (o["type"] == "begin") cutOff.insert(o["unit"].toString().toStdString());
    for (const QJsonObject& o : results()) ended.insert(o["unit"].toString().toStdString());
    for (const std::string& unit : ended) cutOff.erase(unit);
    EXPECT_FALSE(cutOff.empty()) << records;  // two were running when it was killed
    for (size_t i = 0; i < keypads.size(); ++i) {
        if (!fs::exists(keypads[i].dump / "firmware.bin") || ended.count("unit-" + std::to_string(i + 1))) continue;
        std::string device;
        keypads[i].process = LaunchSim(keypads[i].dump, options(i), device);
    }
    std::ofstream(log, std::ios::app) << "{\"type\":\"result\",\"port\":\"/dev/pts/";  // a write cut by the power

    args.erase(args.begin());
    ProcessResult again = Flash(args, 60);
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(
        Has(again.output, "skipped " + std::to_string(done) + " of 8 port(s): their last record in " + log + " is ok"))
        << again.output;
    EXPECT_TRUE(Has(again.output, "done " + std::to_string(8 - done) + " of " + std::to_string(8 - done) + ", ok " +
                                      std::to_string(8 - done) + ", failed 0, waiting 0"))
        << again.output;
    for (const std::string& unit : cutOff) EXPECT_TRUE(Has(again.output, unit + " (")) << again.output;
    EXPECT_TRUE(Has(again.output, "began and never ended: its keypad is half-written and is updated again"))
        << again.output;
    std::map<std::string, int> ok;
    for (const QJsonObject& o : results()) ok[o["unit"].toString().toStdString()] += o["outcome"] == "ok";
    EXPECT_EQ(ok.size(), 8u) << ReadAll(log);
    for (auto& [unit, count] : ok) EXPECT_EQ(count, 1) << unit;
    for (Keypad& k : keypads) {
        EXPECT_EQ(k.process->Wait(5).exitCode, 0) << k.device;
        EXPECT_TRUE(ReadAll(k.dump / "firmware.bin") == ReadAll(FIRMWARE_IMAGE)) << k.device;
    }
    // A connection test on the same log is no update: the next --resume still finds every keypad done.
    Flash({"--ports-from", FleetFile(), "--log", log, "test"});
    again = Flash(args, 60);
    EXPECT_TRUE(Has(again.output, "skipped 8 of 8 port(s)")) << again.output;
}

// Serials scanned at a terminal (a FIFO stands in for the scanner): a code the line's pattern refuses
// and a serial already updated are said and waited past; each record names its keypad and its writer.
TEST_F(GangE2E, AStationReadsEachKeypadsSerialAndRefusesWhatIsNoneOrDoneBefore) {
    std::string jig = (dir / "jig").string(), log = (dir / "jig.jsonl").string(), input = (dir / "input").string();
    AddKeypad({"--link", jig});
    ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
    int scanner = open(input.c_str(), O_RDWR | O_CLOEXEC);
    CProcess flash({"/bin/sh", "-c", "exec \"$0\" \"$@\" <" + input, FLASH, "-p", jig, "--repeat=enter", "--ask-serial",
                    "--serial-pattern", "KP-[0-9]{6}", "--station", "Line 3", "--operator", "Ann", "--yes", "--log",
                    log, "firmware", FIRMWARE});
    auto scan = [&](const std::string& code) {
        ASSERT_EQ(write(scanner, code.data(), code.size()), (ssize_t)code.size());
    };
    ASSERT_TRUE(flash.WaitForOutput("Scan the label of the keypad in " + jig, 30)) << flash.Output();
    scan("KP1\n");
    ASSERT_TRUE(flash.WaitForOutput("KP1 is not a serial number of this line", 10)) << flash.Output();
    scan("KP-000001\r\n");
    ASSERT_TRUE(flash.WaitForOutput("Scan the label of the keypad in " + jig + " (previous unit: ok)", 30))
        << flash.Output();
    scan("KP-000001\nKP-000002\n");
    close(scanner);  // the end of the input ends the station once its lines are used
    EXPECT_EQ(flash.Wait(30).exitCode, 0) << flash.Output();
    EXPECT_TRUE(Has(flash.Output(), "KP-000001 was updated with this image at 20")) << flash.Output();
    std::vector<QJsonObject> records = JsonLines(ReadAll(log));
    ASSERT_EQ(records.size(), 4u) << ReadAll(log);
    for (size_t i = 0; i < records.size(); ++i) {
        const QJsonObject& o = records[i];
        EXPECT_EQ(o["type"], i % 2 ? "result" : "begin");
        EXPECT_EQ(o["serial"], i < 2 ? "KP-000001" : "KP-000002");
        EXPECT_EQ(o["station"], "Line 3");
        EXPECT_EQ(o["operator"], "Ann");
        EXPECT_TRUE(o["program"].toString().startsWith("orbix-flash ")) << o["program"].toString().toStdString();
        if (i % 2) {
            EXPECT_EQ(o["outcome"], "ok");
        }
    }
}

// A fleet file's third column is each keypad's serial: checked before anything starts, skipped by
// --resume wherever the keypad is plugged now, refused a second time for one keypad without --again,
// and counted by the report beside a bench's and an older program's records.
TEST_F(GangE2E, AFleetFileNamesEachKeypadsSerialAndTheRecordsFollowIt) {
    for (int i = 0; i < 2; ++i) AddKeypad({"--baud", "115200"});
    const std::string a = keypads[0].device, b = keypads[1].device, log = (dir / "fleet.jsonl").string();
    auto fleet = [&](const std::string& text) { return Write("serials.txt", text); };
    ProcessResult bad = FlashStderr({"--ports-from", fleet(a + " A KP-000001\n" + b + " B KP-000001\n"), "test"});
    EXPECT_TRUE(Has(bad.output, "the serial KP-000001 is named twice: " + dir.string() + "/serials.txt line 1 (" + a +
                                    ") and " + dir.string() + "/serials.txt line 2 (" + b + ")"))
        << bad.output;
    bad = FlashStderr({"--ports-from", fleet(a + " A KP-1\n"), "--serial-pattern", "KP-[0-9]{6}", "test"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.output, "line 1 (" + a + "): KP-1 is not a serial number of this line")) << bad.output;

    const std::vector<std::string> update = {"--log", log, "--yes", "firmware", FIRMWARE};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), update.begin(), update.end());
        return Flash(args, 60);
    };
    EXPECT_EQ(run({"--ports-from", fleet(a + " A KP-000001\n" + b + " B KP-000002\n")}).exitCode, 0);
    ProcessResult swapped = run({"--ports-from", fleet(b + " A KP-000001\n" + a + " B KP-000002\n"), "--resume", log});
    EXPECT_TRUE(Has(swapped.output, "skipped 2 of 2 port(s)")) << swapped.output;
    bad = FlashStderr({"-p", a, "--serial", "KP-000002", "--log", log, "--yes", "firmware", FIRMWARE});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.output, "KP-000002 was updated with this image at 20")) << bad.output;
    EXPECT_TRUE(Has(bad.output, "--again updates it again")) << bad.output;
    EXPECT_EQ(run({"-p", a, "--serial", "KP-000002", "--again", "--station", "rework"}).exitCode, 0);

    std::ofstream(log, std::ios::app)
        << "{\"type\":\"result\",\"port\":\"COM3\",\"unit\":\"Slot "
           "1\",\"serial\":\"KP-000003\",\"station\":\"bench-2\","
           "\"program\":\"orbix-bench 1.0\",\"command\":\"firmware\",\"outcome\":\"failed\",\"attempt\":1,"
           "\"start\":\"2026-12-09T10:00:00.000Z\",\"last_text\":\"Erase failed\"}\n"
        << "{\"type\":\"result\",\"port\":\"/dev/ttyUSB0\",\"command\":\"firmware\",\"outcome\":\"ok\",\"attempt\":1,"
           "\"start\":\"2026-12-01T10:00:00.000Z\"}\n";
    ProcessResult csv = RunProgram({FLASH, "report", "--csv", log}, 10);
    EXPECT_EQ(csv.exitCode, 0) << csv.output;
    std::map<std::string, int> units;  // by serial, from the rows
    for (const QString& row : QString::fromStdString(csv.output).split("\r\n", Qt::SkipEmptyParts).mid(1))
        ++units[row.section(',', 4, 4).toStdString()];
    EXPECT_EQ(units, (std::map<std::string, int>{{"", 1}, {"KP-000001", 1}, {"KP-000002", 2}, {"KP-000003", 1}}))
        << csv.output;
    ProcessResult text = RunProgram({FLASH, "report", log}, 10);
    EXPECT_TRUE(Has(text.output, "units 5: ok 4, failed 1")) << text.output;
    EXPECT_TRUE(Has(text.output, "KP-000002                2 units")) << text.output;
}

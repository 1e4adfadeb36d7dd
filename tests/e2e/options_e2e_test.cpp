// orbix-flash and orbix-keypad-sim as people and scripts call them: every
// form of an option, what is refused before anything starts, and where the
// port comes from.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "program_test.h"

namespace fs = std::filesystem;

namespace {

class OptionsE2E : public ProgramTest {
protected:
    // What SMALL_FIRMWARE leaves in the keypad.
    std::string SmallImage() const {
        std::string bytes;
        for (char b = 0; b < 20; ++b) bytes += b;
        return bytes;
    }
};

// Runs the programs from another folder while it lives.
class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& folder) : m_old(fs::current_path()) { fs::current_path(folder); }
    ~ScopedCwd() { fs::current_path(m_old); }

private:
    fs::path m_old;
};

}  // namespace

TEST_F(OptionsE2E, EveryFormOfAnOptionIsReadAndFileNamesAreBytes) {
    std::string device = StartSim({});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--port=" + device, "test"}, {"-p", device, "test"}, {"-p" + device, "test"}, {"test", "-p", device}}) {
        ProcessResult r = Flash(args);
        EXPECT_EQ(r.exitCode, 0) << args[0] << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, "ORBIX detected!")) << r.output;
    }
    // Bundled short options, a value after "=", and a file whose name looks
    // like an option once -- has ended them.
    Write("-yq.s", SMALL_FIRMWARE);
    ScopedCwd cwd(dir);
    ProcessResult r = Flash({"-yq", "--stall-timeout=5", "-p", device, "firmware", "--", "-yq.s"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "");

    // A name that is not UTF-8 reaches open() unchanged.
    std::string file = Write("app-\xff\xfe-caf\xe9.s", SMALL_FIRMWARE);
    ProcessResult inspect = Flash({"inspect", file});
    EXPECT_EQ(inspect.exitCode, 0) << inspect.output;
    EXPECT_TRUE(Has(inspect.output, "File:               app-\\xff\\xfe-caf\\xe9.s\n")) << inspect.output;
    // One that would retitle the window is shown escaped; /dev/null takes the record.
    file = Write("fw-\x1b]0;T\x07.s", SMALL_FIRMWARE);
    r = Flash({"-y", "-p", device, "--log", "/dev/null", "firmware", file});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "File: fw-\\x1b]0;T\\x07.s Opened.")) << r.output;
    EXPECT_FALSE(Has(r.output, "\x1b]")) << r.output;
    r = Flash({"-y", "-p", device, "firmware", dir.string() + "/app-\xff\xfe-caf\xe9.s"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    StopSim();
    EXPECT_TRUE(ReadAll(dir / "firmware.bin") == SmallImage());
}

TEST_F(OptionsE2E, WrongOptionsAreRefusedBeforeAnythingStarts) {
    std::string file = Write("small.s", SMALL_FIRMWARE);
    std::string profile = Write("bench.orbix-bench", "[bench]\ncolour = red\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--yes", "test"}, "--yes does not apply to the test command"},
        {{"-y", "test"}, "--yes does not apply to the test command"},
        {{"--force", "screens", file}, "--force does not apply to the screens command"},
        {{"-q", "inspect", file}, "--quiet does not apply to the inspect command"},
        {{"--trace", "ports"}, "--trace does not apply to the ports command"},
        {{"-p", "3", "inspect", file}, "--port does not apply to the inspect command"},
        {{"--port", "", "test"}, "--port needs a port"},
        {{"--port=", "test"}, "--port needs a port"},
        {{"--port", "nonsense", "test"},
         "--port takes a COM number (3 or COM3), a device path, rfc2217://HOST:PORT, tcp://HOST:PORT, auto or "
         "auto:GLOB, not \"nonsense\""},
        {{"--simulate", "-p", "3", "test"}, "--port and --simulate cannot be used together"},
        {{"--frobnicate", "test"}, "Unknown option 'frobnicate'"},
        {{"-yz", "firmware", file}, "Unknown option 'z'"},
        {{"--yes=1", "firmware", file}, "Unexpected value after '--yes'"},
        {{"--stall-timeout=0", "firmware", file}, "--stall-timeout takes a whole number of seconds"},
        {{"--jobs=257", "-p", "3", "test"}, "--jobs takes a whole number from 1 to 256"},
        {{"--retries=x", "-p", "3", "test"}, "--retries takes a whole number from 0 to 100"},
        {{"--resume", "log", "scan"}, "--resume does not apply to the scan command"},
        {{"--repeat", "--resume", "log", "-p", "3", "firmware", file}, "--resume does not go with --repeat"},
        {{"--simulate", "--ports-from", "list", "test"}, "--ports-from and --simulate cannot be used together"},
        {{"test", "extra"}, "unexpected argument extra"},
        {{"firmware"}, "the firmware command needs a file"},
        {{"--expect-sha256", "abc", "firmware", file}, "--expect-sha256 takes a SHA-256: 64 hex digits"},
        {{"--expect-sha256", std::string(64, 'a'), "test"}, "--expect-sha256 does not apply to the test command"},
        {{"--database", "postgresql://line@db/quality", "-p", "3", "test"}, "--database needs --log"},
        {{"--log", "log", "--database", "postgresql://line@db:70000/quality", "-p", "3", "test"},
         "the database \"postgresql://line@db:70000/quality\" cannot be used: the port \"70000\" is not a number"},
        {{"--log", "log", "--database", "postgres://db/quality", "-p", "3", "test"},
         "the database \"postgres://db/quality\" cannot be used: it does not begin with postgresql://"},
        {{"--database", "postgresql://line@db/quality", "ports"}, "--database does not apply to the ports command"},
        {{"records", "push", "log"}, "records push needs --database URL"},
        {{"records", "send", "log"}, "the records command is 'records push LOG...'"},
        {{"--profile", profile, "-p", "3"},
         "--port cannot be given with --profile: the profile says what to run, where and how (only --json, --trace, "
         "--quiet, --log, --database, --yes, --serial-pattern, --again, --station and --operator go with it)"},
        {{"--serial-pattern", "KP-(", "test"}, "--serial-pattern: \"KP-(\" is no regular expression"},
        {{"--ask-serial", "firmware", file}, "--ask-serial goes with --repeat"},
        {{"--profile", profile, "--retries=2"}, "--retries cannot be given with --profile"},
        {{"--profile", profile, "firmware", file}, "--profile gives the command and its file: \"firmware\""},
        {{"--profile", profile}, profile + " line 2: unknown key \"colour\""},
        {{"--profile", profile + ".gone"}, profile + ".gone: No such file or directory"},
    };
    for (const Case& c : cases) {
        ProcessResult r = Flash(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, "orbix-flash: " + c.message)) << r.output;
        EXPECT_TRUE(Has(r.output, "Try 'orbix-flash --help'.")) << r.output;
        EXPECT_FALSE(Has(r.output, "COM Port")) << c.message << ": a port was opened";
    }
}

TEST_F(OptionsE2E, PortFromTheEnvironmentComesBeforeTheSettingsStoreAndAfterTheOption) {
    std::string stored = StartSim({});
    fs::create_directories(dir / "Calvane");
    std::ofstream(dir / "Calvane" / "ORBIXLoader.ini") << "[ORBIXLoader]\nPortName=" << stored << "\n";
    CProcess other({SIM});
    std::string fromEnvironment = other.FirstLine(5);
    ASSERT_EQ(fromEnvironment.rfind("/dev/", 0), 0u) << other.Output();

    auto selected = [](const std::string& device) { return "COM Port: " + device + " selected"; };
    {
        ScopedEnv empty("ORBIX_PORT", "");  // counts as unset
        ProcessResult r = Flash({"test"});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(Has(r.output, selected(stored))) << r.output;
    }
    ScopedEnv environment("ORBIX_PORT", fromEnvironment);
    ProcessResult r = Flash({"test"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Has(r.output, selected(fromEnvironment))) << r.output;

    r = Flash({"--port", stored, "test"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Has(r.output, selected(stored))) << r.output;

    ScopedEnv wrong("ORBIX_PORT", "nonsense");
    r = Flash({"test"});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_TRUE(Has(r.output, "ORBIX_PORT takes a COM number")) << r.output;
    // Commands that open no port do not read it.
    EXPECT_EQ(Flash({"inspect", Write("small.s", SMALL_FIRMWARE)}).exitCode, 0);
}

TEST_F(OptionsE2E, HelpAndVersionOfBothPrograms) {
    ProcessResult help = Flash({"-h"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* form : {"-p, --port=", "-y, --yes", "-q, --quiet", "-h, --help", "-V, --version", "--force",
                             "--simulate", "--stall-timeout=SECS", "--trace", "-yq", "--opt=VALUE", "ORBIX_PORT",
                             "3 failed after the first erase command was sent", "143 SIGTERM",
                             "the most serious: 143, then 130, 3, 4, 1, 2 and 0.\n"})
        EXPECT_TRUE(Has(help.output, form)) << form;
    EXPECT_EQ(Flash({"--help"}).output, help.output);
    EXPECT_EQ(Flash({"test", "--help"}).output, help.output);
    EXPECT_EQ(Flash({"-V"}).output, "orbix-flash 1.0.2\n");

    EXPECT_EQ(RunProgram({SIM, "--version"}).output, "orbix-keypad-sim 1.0.2\n");
    EXPECT_EQ(RunProgram({SIM, "-V"}).output, "orbix-keypad-sim 1.0.2\n");
    ProcessResult simHelp = RunProgram({SIM, "-h"});
    EXPECT_EQ(simHelp.exitCode, 0);
    EXPECT_TRUE(Has(simHelp.output, "-V, --version")) << simHelp.output;
    EXPECT_EQ(RunProgram({SIM, "--help"}).output, simHelp.output);
    for (const std::string& text : {help.output, simHelp.output}) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    }
}

// --help lists each option under the commands it applies to; every other command refuses it.
TEST_F(OptionsE2E, EachCommandRefusesTheOptionsHelpDoesNotListForIt) {
    const std::vector<std::string> commands = {"test", "firmware", "screens", "ports", "inspect", "scan"};
    ScopedEnv noPort("ORBIX_PORT", "nonsense");  // what is not refused stops there, before a port is opened
    std::istringstream lines(Flash({"--help"}).output);
    std::string heading;
    int checked = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Options of ", 0) == 0)
            heading = line;
        else if (line.empty() || line[0] != ' ')
            heading.clear();
        size_t at = line.find("--");
        if (heading.empty() || line.size() < 8 || line.find_first_not_of(' ') != line.find('-') ||
            at == std::string::npos)
            continue;
        std::string form = line.substr(at, line.find(' ', at) - at);
        std::string name = form.substr(0, form.find_first_of("=["));
        std::string given =
            form.find("[=") != std::string::npos || form.find('=') == std::string::npos ? name : name + "=1";
        for (const std::string& command : commands) {
            bool listed = heading.find(" " + command) != std::string::npos;
            std::vector<std::string> args = {given, command};
            if (command == "firmware" || command == "screens" || command == "inspect") args.push_back("f");
            ProcessResult r = Flash(args);
            EXPECT_EQ(Has(r.output, name + " does not apply to the " + command + " command"), !listed)
                << given << " " << command << "\n"
                << r.output;
            ++checked;
        }
    }
    EXPECT_GE(checked, 15 * 6);
}

TEST_F(OptionsE2E, SimulatorTakesValuesAfterEqualsAndStopsAtDoubleDash) {
    ProcessResult extra = RunProgram({SIM, "--", "--silent"});
    EXPECT_EQ(extra.exitCode, 2);
    EXPECT_TRUE(Has(extra.output, "unexpected argument \"--silent\"")) << extra.output;
    EXPECT_EQ(RunProgram({SIM, "--erase-ms=x"}).exitCode, 2);

    sim = std::make_unique<CProcess>(
        std::vector<std::string>{SIM, "--dump-dir=" + dir.string(), "--screens-last-sector=2", "--erase-ms=1", "--"});
    std::string device = sim->FirstLine(5);
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << sim->Output();
    std::string screens = Write("input.bin", std::string(300, 'S'));
    ProcessResult r = Flash({"-y", "-p", device, "screens", screens});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    StopSim();
    EXPECT_TRUE(ReadAll(dir / "screens.bin") == std::string(300, 'S'));
}

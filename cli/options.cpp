#include "options.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdlib>

#include "serial/port_naming.h"
#include "session/database_url.h"
#include "session/exit_code.h"
#include "session/option_table.h"
#include "session/profile_text.h"

namespace {

constexpr unsigned Bit(CliCommand command) { return 1u << command; }
constexpr unsigned FOR_UPDATES = Bit(CLI_FIRMWARE) | Bit(CLI_SCREENS);
constexpr unsigned FOR_KEYPAD = Bit(CLI_TEST) | FOR_UPDATES;
constexpr unsigned FOR_PORTS = FOR_KEYPAD | Bit(CLI_SCAN);
// What goes beside --profile, which stands instead of a command, only says how
// the run is shown, and --log where its records go.
constexpr unsigned WITH_PROFILE = 1u << 31;
constexpr unsigned FOR_ALL = ~WITH_PROFILE;

std::string Number(int n) { return std::to_string(n); }

// In the order --help shows them, those of the most commands first.
const std::vector<OptionRow>& Options() {
    static const std::vector<OptionRow> rows = {
        {"p", "port", "PORT",
         "the port: N, COMN, a device path, rfc2217://HOST:PORT or tcp://HOST:PORT (a serial device server); "
         "default: ORBIX_PORT, else the one chosen in the window's Preferences; give it again for more keypads; "
         "auto probes every serial port and uses the one keypad that answers, auto:GLOB the devices matching GLOB",
         FOR_PORTS},
        {"", "ports-from", "FILE",
         "more ports, one a line, each optionally followed by a unit name (# starts a comment); - reads standard input",
         FOR_PORTS},
        {"", "jobs", "N",
         "at most N keypads at once, the others wait their turn (default " + Number(DEFAULT_JOBS) + ", at most " +
             Number(MOST_JOBS) + ")",
         FOR_PORTS},
        {"", "simulate", "N",
         "use N simulated keypads (default " + Number(CLI_SIMULATE_DEFAULT) + ", at most " + Number(CLI_SIMULATE_MAX) +
             ") instead of hardware",
         FOR_PORTS, Number(CLI_SIMULATE_DEFAULT), true},
        {"", "json", "", "JSON Lines on stdout instead of text", FOR_PORTS | Bit(CLI_REPORT) | WITH_PROFILE},
        {"", "csv", "", "one row per unit as CSV on stdout, for a spreadsheet", Bit(CLI_REPORT)},
        {"", "trace", "", "print every frame both ways on stderr, in hex, with milliseconds", FOR_PORTS | WITH_PROFILE},
        {"q", "quiet", "", "print nothing but errors", FOR_PORTS | WITH_PROFILE},
        {"", "log", "FILE", "append a JSON result line for every keypad to FILE", FOR_KEYPAD | WITH_PROFILE},
        {"", "database", "URL",
         "send the log's records on to the PostgreSQL database postgresql://USER@HOST[:PORT]/DBNAME too, each once "
         "(the password from the PostgreSQL password file); needs --log",
         FOR_KEYPAD | Bit(CLI_RECORDS) | WITH_PROFILE},
        {"", "all", "", "with an auto port: update every keypad that answers", FOR_KEYPAD},
        {"", "retries", "N",
         "try a keypad that failed (exit 1, 2 or 3) again, last in the queue, up to N times (default 0, at most " +
             Number(MOST_RETRIES) + "): after " + Number(DEFAULT_RETRY_DELAY_MS / 1000) + " s, then " +
             Number(DEFAULT_RETRY_DELAY_MS / 500) + " s, " + Number(DEFAULT_RETRY_DELAY_MS / 250) + " s...",
         FOR_KEYPAD},
        {"", "resume", "LOG",
         "skip the ports whose last record in LOG is ok for this command and file; with --log LOG, a stopped run "
         "started again finishes the rest",
         FOR_KEYPAD},
        {"y", "yes", "", "answer yes to the erase question", FOR_UPDATES | WITH_PROFILE},
        {"", "repeat", "enter",
         "station mode: after each update, wait for the keypad to go (away half a second) and the next one to "
         "answer, and update it; with =enter, wait for Enter instead; Ctrl-C ends the station",
         FOR_UPDATES, ""},
        {"", "stall-timeout", "SECS",
         "give up when the keypad stops answering during an update (default " + Number(DEFAULT_STALL_TIMEOUT_SECONDS) +
             ")",
         FOR_UPDATES},
        {"", "expect-sha256", "HEX", "refuse the file, sending nothing, unless its SHA-256 is HEX", FOR_UPDATES},
        {"", "force", "", "install a firmware file with damaged records exactly as it is read", Bit(CLI_FIRMWARE)},
        {"", "serial", "SN", "the keypad's serial number, for its records (a fleet file gives each port's)",
         FOR_KEYPAD},
        {"", "ask-serial", "",
         "stations: before each update, read the keypad's serial number from standard input (a scanner at the "
         "terminal types it and Enter)",
         FOR_UPDATES},
        {"", "serial-pattern", "REGEX", "refuse a serial number that REGEX does not match whole",
         FOR_KEYPAD | WITH_PROFILE},
        {"", "again", "", "update a keypad whose serial's last record in the log is ok with this image all the same",
         FOR_UPDATES | WITH_PROFILE},
        {"", "station", "NAME", "the station the records name (default: the profile's, else the host's name)",
         FOR_KEYPAD | WITH_PROFILE},
        {"", "operator", "NAME", "the operator the records name", FOR_KEYPAD | WITH_PROFILE},
        {"", "profile", "PROFILE",
         "run a production bench's profile: its command, image (checked against its sha256), slots as stations, "
         "log, retries and stall time-out",
         WITH_PROFILE},
        {"h", "help", "", "show this text", FOR_ALL},
        {"V", "version", "", "show the version", FOR_ALL},
    };
    return rows;
}

struct CommandName {
    const char* name;
    CliCommand command;
    KeypadCommand keypad;  // what its sessions do, for those that talk to keypads
    const char* file;      // its argument, "" for none
    const char* help;
};

const CommandName COMMANDS[] = {
    {"test", CLI_TEST, KEYPAD_TEST, "", "check that a keypad answers"},
    {"firmware", CLI_FIRMWARE, KEYPAD_FIRMWARE, "FILE.s", "install new firmware from an S-record file"},
    {"screens", CLI_SCREENS, KEYPAD_SCREENS, "FILE.bin", "install new screens from a binary file"},
    {"ports", CLI_PORTS, KEYPAD_TEST, "", "list the serial ports"},
    {"inspect", CLI_INSPECT, KEYPAD_TEST, "FILE", "show what a firmware or screens file holds"},
    {"scan", CLI_SCAN, KEYPAD_SCAN, "", "show which ports have a keypad answering, with its Memory ID fields"},
    {"report", CLI_REPORT, KEYPAD_TEST, "LOG...",
     "a shift's report from records logs: units, yield and units per hour, by station, slot, image and day"},
    {"records", CLI_RECORDS, KEYPAD_TEST, "push LOG...", "send the logs' records the database lacks (--database)"},
};

std::string ProfileCompanions() {
    std::vector<std::string> names;
    for (const OptionRow& row : Options())
        if ((row.commands & WITH_PROFILE) && row.commands != WITH_PROFILE)
            names.push_back(std::string("--") + row.longName);
    return Listed(names);
}

std::string Heading(unsigned commands) {
    if (commands == 0) return "Instead of a command, with only " + ProfileCompanions() + ":";
    if (commands == FOR_ALL) return "With any command or none:";
    std::vector<std::string> words;
    for (const CommandName& c : COMMANDS)
        if (commands & Bit(c.command)) words.push_back(c.name);
    return "Options of " + Listed(words) + ":";
}

std::string ExitCodeLines() {
    std::string out;
    for (const auto& [code, meaning] : ExitCodeMeanings())
        out += "  " + Wrapped(std::to_string(code) + " " + meaning, 4, 2);
    return out;
}

std::string Usage() {
    std::string usage =
        "Usage: orbix-flash [options] COMMAND\n\n" +
        Wrapped("Installs firmware or screens into an ORBIX keypad in Kestrel mode, or tests the connection.", 0) +
        "\nCommands:\n";
    for (const CommandName& c : COMMANDS) {
        std::string left = std::string("  ") + c.name + (*c.file ? std::string(" ") + c.file : "");
        usage += left + std::string(24 - left.size(), ' ') + Wrapped(c.help, 24, 24);
    }
    usage += "\n" + Wrapped(
                        "A value may follow as --opt=VALUE or --opt VALUE, -p VALUE or -pVALUE; short options "
                        "combine, as in -yq; -- ends the options. An option is refused by a command it does not "
                        "apply to.",
                        0);
    return usage + GroupedOptionLines(Options(), 28, Heading, ~WITH_PROFILE) +
           "\nEnvironment:\n"
           "  ORBIX_PORT            the port when --port is not given (empty: unset)\n"
           "  ORBIX_RETRY_DELAY_MS  the first back-off of --retries in milliseconds (for\n"
           "                        testing)\n"
           "  PGPASSFILE            the PostgreSQL password file --database reads\n"
           "                        (default ~/.pgpass)\n"
           "\nExit codes:\n" +
           ExitCodeLines() + "Of many keypads, the most serious: " + ExitCodesBySeriousness() + ".\n";
}

// Arguments go through Latin-1 both ways: each byte becomes one character and
// comes back unchanged, so a file name that is not UTF-8 still opens.
QString Text(const char* bytes) { return QString::fromLatin1(bytes); }
std::string Bytes(const QString& text) {
    QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The command and its file; 0 with `error` set when they are wrong, or when
// an option given does not apply to the command.
int ReadCommand(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty()) {
        error = "no command given";
        return 0;
    }
    std::string name = Bytes(words[0]);
    const CommandName* found = nullptr;
    for (const CommandName& c : COMMANDS)
        if (name == c.name) found = &c;
    if (!found) {
        error = "unknown command " + name;
        return 0;
    }
    options.command = found->command;
    options.request.command = found->keypad;
    bool logs = found->command == CLI_REPORT || found->command == CLI_RECORDS;
    if (found->command == CLI_RECORDS && (words.size() < 2 || words[1] != "push")) {
        error = "the records command is 'records push LOG...'";
        return 0;
    }
    if (logs) {
        for (qsizetype i = found->command == CLI_RECORDS ? 2 : 1; i < words.size(); ++i)
            options.reportLogs.push_back(Bytes(words[i]));
        if (options.reportLogs.empty()) {
            error = "the " + name + " command needs a log";
            return 0;
        }
    }
    qsizetype expected = logs ? words.size() : *found->file ? 2 : 1;
    if (words.size() < expected) {
        error = "the " + name + " command needs a file";
        return 0;
    }
    if (words.size() > expected) {
        error = "unexpected argument " + Bytes(words[expected]);
        return 0;
    }
    if (*found->file) options.request.file = Bytes(words[1]);
    const OptionRow* refused = OptionNotFor(parser, Options(), Bit(found->command));
    if (refused) error = std::string("--") + refused->longName + " does not apply to the " + name + " command";
    return refused == nullptr;
}

// --port (any number of times), else ORBIX_PORT for a command that talks to
// a keypad: checked here, so a name that cannot be a port stops the run
// before anything starts.
int ReadPorts(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    RunPlan& plan = options.plan;
    for (const QString& value : parser.values("port")) {
        plan.ports.push_back(Bytes(value));
        if (!CheckPortName("--port", plan.ports.back(), error)) return 0;
    }
    if (plan.ports.empty() && plan.portsFrom.empty() && !options.simulate && (Bit(options.command) & FOR_PORTS)) {
        const char* environment = std::getenv("ORBIX_PORT");
        if (environment && *environment && !CheckPortName("ORBIX_PORT", environment, error)) return 0;
        if (environment && *environment) plan.ports.push_back(environment);
    }
    if ((!plan.ports.empty() || !plan.portsFrom.empty()) && options.simulate) {
        error = plan.ports.empty() ? "--ports-from and --simulate cannot be used together"
                                   : "--port and --simulate cannot be used together";
        return 0;
    }
    if (!plan.ports.empty()) options.request.port = plan.ports[0];
    return CheckRunPlan(options.request, plan, error);
}

// Who and what the records name: --serial, --serial-pattern, --again, --station and --operator.
int ReadRecordNames(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    RunPlan& plan = options.plan;
    plan.program = "orbix-flash";
    for (auto [name, value] : {std::pair{"serial", &plan.serial}, std::pair{"station", &plan.station},
                               std::pair{"operator", &plan.operatorName}}) {
        if (!parser.isSet(name)) continue;
        *value = Trimmed(Bytes(parser.value(name)));
        if (value->empty() || !IsUtf8(*value)) {
            error = std::string("--") + name + " needs a name in UTF-8 text";
            return 0;
        }
    }
    plan.serials.again = parser.isSet("again");
    if (parser.isSet("serial-pattern") && !plan.serials.pattern.Set(Bytes(parser.value("serial-pattern")), error)) {
        error = "--serial-pattern: " + error;
        return 0;
    }
    return 1;
}

int ReadValues(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    if (!ReadNumberOption(parser, "simulate", 1, CLI_SIMULATE_MAX, options.simulateCount, error, " of keypads"))
        return 0;
    options.simulate = parser.isSet("simulate");
    options.plan.all = parser.isSet("all");
    options.request.repeat = parser.isSet("repeat");
    options.repeatOnEnter = parser.value("repeat") == "enter";
    if (options.request.repeat && !options.repeatOnEnter && !parser.value("repeat").isEmpty()) {
        error = "--repeat takes no value, or =enter";
        return 0;
    }
    options.json = parser.isSet("json");
    options.csv = parser.isSet("csv");
    options.request.yes = parser.isSet("yes");
    options.force = parser.isSet("force");
    options.request.trace = parser.isSet("trace");
    options.request.quiet = parser.isSet("quiet");
    if (!ReadNumberOption(parser, "stall-timeout", 1, MOST_STALL_TIMEOUT_SECONDS, options.request.stallTimeoutSeconds,
                          error, " of seconds") ||
        !ReadNumberOption(parser, "jobs", 1, MOST_JOBS, options.plan.jobs, error) ||
        !ReadNumberOption(parser, "retries", 0, MOST_RETRIES, options.plan.retries, error) ||
        !ReadRetryDelay(options.plan, error))
        return 0;
    for (auto [name, value] :
         {std::pair{"log", &options.plan.logFile}, std::pair{"ports-from", &options.plan.portsFrom},
          std::pair{"resume", &options.plan.resumeLog}, std::pair{"database", &options.plan.database}}) {
        *value = Bytes(parser.value(name));
        if (parser.isSet(name) && value->empty()) {
            error =
                std::string("--") + name + (std::string_view(name) == "database" ? " needs a URL" : " needs a file");
            return 0;
        }
    }
    options.request.expectedSha256 = Bytes(parser.value("expect-sha256").toLower());
    if (parser.isSet("expect-sha256") &&
        (options.request.expectedSha256.size() != 64 ||
         options.request.expectedSha256.find_first_not_of("0123456789abcdef") != std::string::npos)) {
        error = "--expect-sha256 takes a SHA-256: 64 hex digits";
        return 0;
    }
    if (options.command == CLI_RECORDS) {
        if (options.plan.database.empty()) error = "records push needs --database URL";
        DatabaseUrl url;
        return !options.plan.database.empty() && ParseDatabaseUrl(options.plan.database, url, error);
    }
    if (!ReadRecordNames(parser, options, error)) return 0;
    options.plan.serials.need = parser.isSet("ask-serial") ? SERIAL_REQUIRED : SERIAL_OFF;
    if (parser.isSet("ask-serial") && !options.request.repeat) {
        error = "--ask-serial goes with --repeat: a single keypad's serial is --serial SN";
        return 0;
    }
    if (parser.isSet("ask-serial") && options.plan.portsFrom == "-") {
        error = "--ask-serial reads the serials from standard input: the ports cannot come from it too";
        return 0;
    }
    return ReadPorts(parser, options, error);
}

// --profile says what to run, where and how.
int ReadProfileRun(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    if (const OptionRow* refused = OptionNotFor(parser, Options(), WITH_PROFILE)) {
        error = std::string("--") + refused->longName +
                " cannot be given with --profile: the profile says what to run, where and how (only " +
                ProfileCompanions() + " go with it)";
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = "--profile gives the command and its file: \"" + Bytes(parser.positionalArguments()[0]) +
                "\" cannot be given with it";
        return 0;
    }
    std::string path = Bytes(parser.value("profile"));
    options.plan.logFile = Bytes(parser.value("log"));
    options.plan.database = Bytes(parser.value("database"));
    if (path.empty() || (parser.isSet("log") && options.plan.logFile.empty())) {
        error = std::string(path.empty() ? "--profile" : "--log") + " needs a file";
        return 0;
    }
    BenchProfile profile;
    if (!LoadBenchProfile(path, profile, error)) return 0;
    if (!ReadRecordNames(parser, options, error)) return 0;
    if (profile.operatorRequired && options.plan.operatorName.empty()) {
        error = path + " asks who the operator is: give --operator NAME";
        return 0;
    }
    ApplyBenchProfile(path, profile, options.request, options.plan);
    options.command = profile.command == KEYPAD_SCREENS ? CLI_SCREENS : CLI_FIRMWARE;
    options.repeatOnEnter = profile.startByOperator;
    options.request.yes = parser.isSet("yes");
    options.json = parser.isSet("json");
    options.request.quiet = parser.isSet("quiet");
    options.request.trace = parser.isSet("trace");
    return ReadRetryDelay(options.plan, error) && CheckRunPlan(options.request, options.plan, error);
}

}  // namespace

const std::string& CliUsage() {
    static const std::string usage = Usage();
    return usage;
}

const std::vector<OptionRow>& CliOptionRows() { return Options(); }

int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << Text(argv[i]);
    QCommandLineParser parser;
    if (!ParseOptionRows(parser, Options(), arguments, error)) return 0;
    if (parser.isSet("help") || parser.isSet("version")) {
        options.command = parser.isSet("help") ? CLI_HELP : CLI_VERSION;
        return 1;
    }
    if (parser.isSet("profile")) return ReadProfileRun(parser, options, error);
    return ReadCommand(parser, options, error) && ReadValues(parser, options, error);
}

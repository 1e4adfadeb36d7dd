#include "options.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <set>

#include "serial/port_naming.h"

const char* const CLI_USAGE =
    "Usage: orbix-flash [options] COMMAND\n"
    "\n"
    "Installs firmware or screens into an ORBIX keypad in Kestrel mode, or tests the connection.\n"
    "\n"
    "Commands:\n"
    "  test                  check that a keypad answers\n"
    "  firmware FILE.s       install new firmware from an S-record file\n"
    "  screens FILE.bin      install new screens from a binary file\n"
    "  ports                 list the serial ports\n"
    "  inspect FILE          show what a firmware or screens file holds\n"
    "  scan                  show which ports have a keypad answering, with its Memory ID fields\n"
    "\n"
    "Options (a value may follow as --opt=VALUE or --opt VALUE, -p VALUE or -pVALUE; short\n"
    "options combine, as in -yq; -- ends the options):\n"
    "  -p, --port=PORT           the port: N, COMN, a device path, rfc2217://HOST:PORT or\n"
    "                            tcp://HOST:PORT (a serial device server); default: ORBIX_PORT, else\n"
    "                            the one chosen in the window's Preferences; give it again for\n"
    "                            more keypads; auto probes every serial port and uses the one\n"
    "                            keypad that answers, auto:GLOB the devices matching GLOB\n"
    "      --ports-from=FILE     more ports, one a line, each optionally followed by a unit name\n"
    "                            (# starts a comment); - reads standard input\n"
    "      --jobs=N              at most N keypads at once, the others wait their turn (default 32,\n"
    "                            at most 256)\n"
    "      --retries=N           try a keypad that failed (exit 1, 2 or 3) again up to N times, last\n"
    "                            in the queue, after 5 s, then 10 s, 20 s... (default 0)\n"
    "      --resume=LOG          skip the ports whose last record in LOG is ok for this command and\n"
    "                            file; with --log LOG, a stopped run started again finishes the rest\n"
    "      --all                 with an auto port: update every keypad that answers\n"
    "      --repeat[=enter]      station mode: after each update, wait for the keypad to go (away\n"
    "                            half a second) and the next one to answer, and update it; with\n"
    "                            =enter, wait for Enter instead; Ctrl-C ends the station\n"
    "      --simulate[=N]        use N simulated keypads (default 1) instead of hardware\n"
    "      --json                JSON Lines on stdout instead of text\n"
    "      --log=FILE            append a JSON result line for every keypad to FILE\n"
    "  -y, --yes                 answer yes to the erase question\n"
    "      --force               install a firmware file with damaged records exactly as it is read\n"
    "      --stall-timeout=SECS  give up when the keypad stops answering during an update (default 30)\n"
    "      --expect-sha256=HEX   refuse the file, sending nothing, unless its SHA-256 is HEX\n"
    "      --profile=PROFILE     run a production bench's profile: its command, image (checked\n"
    "                            against its sha256), slots as stations, log, retries and stall\n"
    "                            time-out; no command is given, and only --log (which overrides\n"
    "                            the profile's), --yes, --json, --quiet and --trace go with it\n"
    "      --trace               print every frame both ways on stderr, in hex, with milliseconds\n"
    "  -q, --quiet               print nothing but errors\n"
    "  -h, --help                show this text\n"
    "  -V, --version             show the version\n"
    "--port, --ports-from, --jobs, --simulate, --trace, --quiet and --json apply to test,\n"
    "firmware, screens and scan; --all, --log, --retries and --resume to test, firmware and screens;\n"
    "--yes, --repeat, --stall-timeout and --expect-sha256 to firmware and screens; --force to firmware.\n"
    "Any other use is refused.\n"
    "\n"
    "Environment: ORBIX_PORT  the port when --port is not given (empty counts as unset)\n"
    "  ORBIX_RETRY_DELAY_MS  the first back-off of --retries in milliseconds (for testing)\n"
    "\n"
    "Exit codes: 0 success; 1 failed, the keypad was not changed (nothing erased);\n"
    "  3 failed after the first erase command was sent: the keypad holds no valid firmware or screens and "
    "stays in its update mode (run the update again);\n"
    "  2 usage, port or file problem (nothing sent); 4 records could not be written (--log);\n"
    "  130 Ctrl-C; 143 SIGTERM. Of many: 143 over 130 over 3 over 4 over 1 over 2 over 0\n";

namespace {

constexpr unsigned Bit(CliCommand command) { return 1u << command; }
constexpr unsigned FOR_UPDATES = Bit(CLI_FIRMWARE) | Bit(CLI_SCREENS);
constexpr unsigned FOR_KEYPAD = Bit(CLI_TEST) | FOR_UPDATES;
constexpr unsigned FOR_PORTS = FOR_KEYPAD | Bit(CLI_SCAN);
constexpr unsigned FOR_ALL = ~0u;

struct OptionForm {
    const char* shortName;  // "" when there is none
    const char* longName;
    const char* valueName;  // "" for a switch
    unsigned commands;      // those it applies to
};

const OptionForm OPTIONS[] = {
    {"p", "port", "PORT", FOR_PORTS},
    {"", "ports-from", "FILE", FOR_PORTS},
    {"", "jobs", "N", FOR_PORTS},
    {"", "retries", "N", FOR_KEYPAD},
    {"", "resume", "LOG", FOR_KEYPAD},
    {"", "all", "", FOR_KEYPAD},
    {"", "repeat", "HOW", FOR_UPDATES},
    {"", "simulate", "N", FOR_PORTS},
    {"", "json", "", FOR_PORTS},
    {"", "log", "FILE", FOR_KEYPAD},
    {"y", "yes", "", FOR_UPDATES},
    {"", "force", "", Bit(CLI_FIRMWARE)},
    {"", "stall-timeout", "SECS", FOR_UPDATES},
    {"", "expect-sha256", "HEX", FOR_UPDATES},
    {"", "profile", "PROFILE", FOR_UPDATES},
    {"", "trace", "", FOR_PORTS},
    {"q", "quiet", "", FOR_PORTS},
    {"h", "help", "", FOR_ALL},
    {"V", "version", "", FOR_ALL},
};

struct CommandName {
    const char* name;
    CliCommand command;
    bool takesFile;
};

const CommandName COMMANDS[] = {
    {"test", CLI_TEST, false},   {"firmware", CLI_FIRMWARE, true}, {"screens", CLI_SCREENS, true},
    {"ports", CLI_PORTS, false}, {"inspect", CLI_INSPECT, true},   {"scan", CLI_SCAN, false},
};

// Arguments go through Latin-1 both ways: each byte becomes one character and
// comes back unchanged, so a file name that is not UTF-8 still opens.
QString Text(const char* bytes) { return QString::fromLatin1(bytes); }
std::string Bytes(const QString& text) {
    QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The command and its file; nullptr with `error` set when they are wrong.
const CommandName* ReadCommand(const QStringList& words, CliOptions& options, std::string& error) {
    if (words.isEmpty()) {
        error = "no command given";
        return nullptr;
    }
    std::string name = Bytes(words[0]);
    const CommandName* found = nullptr;
    for (const CommandName& c : COMMANDS)
        if (name == c.name) found = &c;
    if (!found) {
        error = "unknown command " + name;
        return nullptr;
    }
    options.command = found->command;
    qsizetype expected = found->takesFile ? 2 : 1;
    if (words.size() < expected) {
        error = "the " + name + " command needs a file";
        return nullptr;
    }
    if (words.size() > expected) {
        error = "unexpected argument " + Bytes(words[expected]);
        return nullptr;
    }
    if (found->takesFile) options.file = Bytes(words[1]);
    return found;
}

int CheckOptionsApply(const QCommandLineParser& parser, const CommandName& command, std::string& error) {
    for (const OptionForm& option : OPTIONS) {
        if (!parser.isSet(option.longName) || (option.commands & Bit(command.command))) continue;
        error = std::string("--") + option.longName + " does not apply to the " + command.name + " command";
        return 0;
    }
    return 1;
}

// --port (any number of times), else ORBIX_PORT for a command that talks to
// a keypad: checked here, so a name that cannot be a port stops the run
// before anything starts.
int ReadPorts(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    std::string source = "--port";
    for (const QString& value : parser.values("port")) {
        options.ports.push_back(Bytes(value));
        if (options.ports.back().empty()) {
            error = "--port needs a port: a COM number (3 or COM3) or a device path";
            return 0;
        }
    }
    if (options.ports.empty() && options.portsFrom.empty() && !options.simulate &&
        (Bit(options.command) & FOR_PORTS)) {
        const char* environment = std::getenv("ORBIX_PORT");
        if (environment && *environment) options.ports.push_back(environment);
        source = "ORBIX_PORT";
    }
    if ((!options.ports.empty() || !options.portsFrom.empty()) && options.simulate) {
        error = options.ports.empty() ? "--ports-from and --simulate cannot be used together"
                                      : "--port and --simulate cannot be used together";
        return 0;
    }
    for (const std::string& name : options.ports) {
        PortSpec port;
        if (!IsAutoPort(name) && !ParsePortArgument(name, port)) {
            error = source + " takes a COM number (3 or COM3), a device path, rfc2217://HOST:PORT, tcp://HOST:PORT, "
                             "auto or auto:GLOB, not \"" + name + "\"";
            return 0;
        }
        if (IsAutoPort(name) && (options.ports.size() > 1 || !options.portsFrom.empty())) {
            error = "--port " + name + " cannot be given with other ports";
            return 0;
        }
    }
    if (!options.ports.empty()) options.port = options.ports[0];
    if (options.all && (options.ports.empty() || !IsAutoPort(options.port))) {
        error = "--all goes with --port auto or --port auto:GLOB";
        return 0;
    }
    return 1;
}

// A whole number from `lowest` to `highest`; 0 with `error` when the value is not one.
int ReadNumber(const QCommandLineParser& parser, const char* name, long lowest, long highest, int& value,
               std::string& error, const char* unit = "") {
    if (!parser.isSet(name)) return 1;
    std::string text = Bytes(parser.value(name));
    char* end = nullptr;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < lowest || number > highest) {
        error = std::string("--") + name + " takes a whole number" + unit + " from " + std::to_string(lowest) +
                " to " + std::to_string(highest);
        return 0;
    }
    value = static_cast<int>(number);
    return 1;
}

int ReadSimulate(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    if (!parser.isSet("simulate")) return 1;
    std::string text = Bytes(parser.value("simulate"));
    char* end = nullptr;
    long count = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || count < 1 || count > CLI_SIMULATE_MAX) {
        error = "--simulate takes a number of keypads from 1 to 32";
        return 0;
    }
    options.simulate = true;
    options.simulateCount = static_cast<int>(count);
    return 1;
}

int ReadValues(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    if (!ReadSimulate(parser, options, error)) return 0;
    options.all = parser.isSet("all");
    options.repeat = parser.isSet("repeat");
    options.repeatOnEnter = parser.value("repeat") == "enter";
    if (options.repeat && !options.repeatOnEnter && !parser.value("repeat").isEmpty()) {
        error = "--repeat takes no value, or =enter";
        return 0;
    }
    options.json = parser.isSet("json");
    options.yes = parser.isSet("yes");
    options.force = parser.isSet("force");
    options.trace = parser.isSet("trace");
    options.quiet = parser.isSet("quiet");
    if (!ReadNumber(parser, "stall-timeout", 1, 86400, options.stallTimeoutSeconds, error, " of seconds") ||
        !ReadNumber(parser, "jobs", 1, CLI_JOBS_MAX, options.jobs, error) ||
        !ReadNumber(parser, "retries", 0, 100, options.retries, error))
        return 0;
    for (auto [name, value] : {std::pair{"log", &options.logFile}, std::pair{"ports-from", &options.portsFrom},
                          std::pair{"resume", &options.resumeLog}}) {
        *value = Bytes(parser.value(name));
        if (parser.isSet(name) && value->empty()) {
            error = std::string("--") + name + " needs a file";
            return 0;
        }
    }
    options.expectSha256 = Bytes(parser.value("expect-sha256").toLower());
    if (parser.isSet("expect-sha256") &&
        (options.expectSha256.size() != 64 ||
         options.expectSha256.find_first_not_of("0123456789abcdef") != std::string::npos)) {
        error = "--expect-sha256 takes a SHA-256: 64 hex digits";
        return 0;
    }
    // A station's units come and go on one port: a port is neither tried again nor done.
    for (const char* fleetOnly : {"retries", "resume"})
        if (options.repeat && parser.isSet(fleetOnly)) {
            error = std::string("--") + fleetOnly + " does not go with --repeat";
            return 0;
        }
    return ReadPorts(parser, options, error);
}

// --profile says what to run, where and how; what goes beside it only says how the run is shown,
// and --log where its records go.
int ReadProfileRun(const QCommandLineParser& parser, CliOptions& options, std::string& error) {
    const std::set<std::string> beside = {"profile", "log", "yes", "json", "quiet", "trace"};
    for (const OptionForm& option : OPTIONS)
        if (parser.isSet(option.longName) && !beside.count(option.longName)) {
            error = std::string("--") + option.longName +
                    " cannot be given with --profile: the profile says what to run, where and how (only --log, --yes, "
                    "--json, --quiet and --trace go with it)";
            return 0;
        }
    if (!parser.positionalArguments().isEmpty()) {
        error = "--profile gives the command and its file: \"" + Bytes(parser.positionalArguments()[0]) +
                "\" cannot be given with it";
        return 0;
    }
    options.profile = Bytes(parser.value("profile"));
    options.logFile = Bytes(parser.value("log"));
    if (options.profile.empty() || (parser.isSet("log") && options.logFile.empty())) {
        error = std::string(options.profile.empty() ? "--profile" : "--log") + " needs a file";
        return 0;
    }
    BenchProfile profile;
    if (!LoadBenchProfile(options.profile, profile, error)) return 0;
    options.command = profile.command == KEYPAD_SCREENS ? CLI_SCREENS : CLI_FIRMWARE;
    options.file = BenchProfilePath(options.profile, profile.image);
    options.expectSha256 = profile.sha256;
    if (options.logFile.empty()) options.logFile = BenchProfilePath(options.profile, profile.log);
    options.retries = profile.retries;
    options.stallTimeoutSeconds = profile.stallTimeoutSeconds;
    options.repeat = true;
    options.repeatOnEnter = profile.startByOperator;
    options.slots = profile.slots;
    options.jobs = std::max(options.jobs, static_cast<int>(profile.slots.size()));
    options.yes = parser.isSet("yes");
    options.json = parser.isSet("json");
    options.quiet = parser.isSet("quiet");
    options.trace = parser.isSet("trace");
    return 1;
}

// --simulate takes an optional count: "--simulate 4" and "--simulate=4" give
// 4, a lone --simulate gives 1; a lone --repeat means removal. The parser
// wants a value, so each gets one.
QStringList WithOptionalValues(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (; i < argc; ++i) arguments << Text(argv[i]);
            break;
        }
        if (arg == "--repeat") {
            arguments << Text("--repeat=");
            continue;
        }
        if (arg != "--simulate") {
            arguments << Text(argv[i]);
            continue;
        }
        bool countFollows = i + 1 < argc && *argv[i + 1] &&
                            std::string(argv[i + 1]).find_first_not_of("0123456789") == std::string::npos;
        arguments << (countFollows ? Text("--simulate=") + Text(argv[++i]) : Text("--simulate=1"));
    }
    return arguments;
}

}  // namespace

const char* CommandWord(CliCommand command) {
    for (const CommandName& c : COMMANDS)
        if (c.command == command) return c.name;
    return "";
}

int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const OptionForm& option : OPTIONS) {
        QStringList names;
        if (*option.shortName) names << Text(option.shortName);
        names << Text(option.longName);
        parser.addOption(QCommandLineOption(names, QString(), Text(option.valueName)));
    }
    if (!parser.parse(WithOptionalValues(argc, argv))) {
        error = Bytes(parser.errorText());
        return 0;
    }
    if (parser.isSet("help") || parser.isSet("version")) {
        options.command = parser.isSet("help") ? CLI_HELP : CLI_VERSION;
        return 1;
    }
    if (parser.isSet("profile")) return ReadProfileRun(parser, options, error);
    const CommandName* command = ReadCommand(parser.positionalArguments(), options, error);
    return command && CheckOptionsApply(parser, *command, error) && ReadValues(parser, options, error);
}

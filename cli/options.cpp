#include "options.h"

#include <cstdlib>
#include <cstring>

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
    "\n"
    "Options:\n"
    "  --port N|COMN|DEVICE  the serial port (default: the one chosen in the window's Preferences)\n"
    "  --simulate            use a simulated keypad instead of hardware\n"
    "  --yes                 answer yes to the erase question\n"
    "  --stall-timeout SECS  give up when the keypad stops answering during an update (default 30)\n"
    "  --trace               print every frame both ways on stderr, in hex, with milliseconds\n"
    "  --quiet               print nothing but errors\n"
    "  --help                show this text\n"
    "  --version             show the version\n"
    "\n"
    "Exit codes: 0 success; 1 the operation failed (time-out, \"Failed\" from the keypad, stall,\n"
    "port lost, erase declined); 2 usage, port or file problem; 130 interrupted.\n";

namespace {

struct CommandName {
    const char* name;
    CliCommand command;
    bool takesFile;
};

const CommandName COMMANDS[] = {
    {"test", CLI_TEST, false},         {"firmware", CLI_FIRMWARE, true}, {"screens", CLI_SCREENS, true},
    {"ports", CLI_PORTS, false},       {"inspect", CLI_INSPECT, true},
};

}  // namespace

int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error) {
    bool fileExpected = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.command = CLI_HELP;
            return 1;
        } else if (arg == "--version") {
            options.command = CLI_VERSION;
            return 1;
        } else if (arg == "--port") {
            const char* v = value("--port");
            if (!v) return 0;
            options.port = v;
        } else if (arg == "--stall-timeout") {
            const char* v = value("--stall-timeout");
            if (!v) return 0;
            char* end = nullptr;
            long seconds = std::strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || seconds < 1 || seconds > 86400) {
                error = "--stall-timeout takes a whole number of seconds from 1 to 86400";
                return 0;
            }
            options.stallTimeoutSeconds = static_cast<int>(seconds);
        } else if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return 0;
        } else if (fileExpected) {
            options.file = arg;
            fileExpected = false;
        } else if (options.command != CLI_NONE) {
            error = "unexpected argument " + arg;
            return 0;
        } else {
            const CommandName* found = nullptr;
            for (const CommandName& c : COMMANDS)
                if (arg == c.name) found = &c;
            if (!found) {
                error = "unknown command " + arg;
                return 0;
            }
            options.command = found->command;
            fileExpected = found->takesFile;
        }
    }
    if (options.command == CLI_NONE) {
        error = "no command given";
        return 0;
    }
    if (fileExpected) {
        error = "the command needs a file";
        return 0;
    }
    return 1;
}

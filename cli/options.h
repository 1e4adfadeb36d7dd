#pragma once
#include <string>

enum CliCommand { CLI_NONE, CLI_TEST, CLI_FIRMWARE, CLI_SCREENS, CLI_PORTS, CLI_INSPECT, CLI_HELP, CLI_VERSION };

struct CliOptions {
    CliCommand command = CLI_NONE;
    std::string file;  // the bytes of the argument, as given
    std::string port;  // --port, else ORBIX_PORT; empty: the settings store's
    bool simulate = false;
    bool yes = false;
    // Install a firmware file with damaged records exactly as it is read.
    bool force = false;
    int stallTimeoutSeconds = 30;
    bool trace = false;
    bool quiet = false;
};

// 1 when the arguments are well formed; otherwise 0 with `error` set. Reads
// ORBIX_PORT when --port is absent and the command talks to a keypad.
int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

extern const char* const CLI_USAGE;

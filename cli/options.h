#pragma once
#include <string>

enum CliCommand { CLI_NONE, CLI_TEST, CLI_FIRMWARE, CLI_SCREENS, CLI_PORTS, CLI_INSPECT, CLI_HELP, CLI_VERSION };

struct CliOptions {
    CliCommand command = CLI_NONE;
    std::string file;
    std::string port;  // empty: the settings store's
    bool simulate = false;
    bool yes = false;
    bool force = false;  // install a firmware file with damaged records as it reads
    int stallTimeoutSeconds = 30;
    bool trace = false;
    bool quiet = false;
};

// 1 when the arguments are well formed; otherwise 0 with `error` set.
int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

extern const char* const CLI_USAGE;

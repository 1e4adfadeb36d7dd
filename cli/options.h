#pragma once
#include <string>
#include <vector>

#include "session/bench_profile.h"
#include "session/option_table.h"
#include "session/run_defaults.h"
#include "session/session_request.h"

enum CliCommand {
    CLI_NONE,
    CLI_TEST,
    CLI_FIRMWARE,
    CLI_SCREENS,
    CLI_PORTS,
    CLI_INSPECT,
    CLI_SCAN,
    CLI_HELP,
    CLI_VERSION,
};

constexpr int CLI_SIMULATE_DEFAULT = 1;  // keypads a lone --simulate starts
constexpr int CLI_SIMULATE_MAX = 32;

struct CliOptions {
    CliCommand command = CLI_NONE;
    std::string file;  // the bytes of the argument, as given
    std::string port;                // the first of `ports`; empty: the settings store's
    std::vector<std::string> ports;  // every --port (or ORBIX_PORT), as given
    std::string portsFrom;           // --ports-from: a fleet file, "-" for standard input
    int jobs = DEFAULT_JOBS;         // --jobs: keypads at once
    int retries = 0;                 // --retries: attempts after the first for one that failed
    int retryDelayMs = DEFAULT_RETRY_DELAY_MS;  // ORBIX_RETRY_DELAY_MS: the first back-off
    std::string resumeLog;           // --resume: skip the ports this log has as done
    bool simulate = false;
    int simulateCount = 0;           // keypads --simulate starts
    bool all = false;                // --all: every port that answers
    bool repeat = false;             // --repeat: station mode
    bool repeatOnEnter = false;      // --repeat=enter: the next unit on Enter, not on removal
    bool json = false;               // --json: JSON Lines on stdout
    std::string logFile;             // --log: result objects appended here
    bool yes = false;
    // Install a firmware file with damaged records exactly as it is read.
    bool force = false;
    int stallTimeoutSeconds = DEFAULT_STALL_TIMEOUT_SECONDS;
    bool trace = false;
    bool quiet = false;
    std::string expectSha256;      // --expect-sha256 (or the profile's): the image must hash to it
    std::string profile;           // --profile: a bench profile, run from the terminal
    std::vector<BenchSlot> slots;  // its slots: the ports, with the names their records carry
};

// 1 when the arguments are well formed; otherwise 0 with `error` set. Reads
// ORBIX_PORT when --port is absent and the command talks to a keypad.
int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

// What the sessions need of the options.
SessionRequest SessionRequestOf(const CliOptions& options);

// The --help text and the table it is made from.
const std::string& CliUsage();
const std::vector<OptionRow>& CliOptionRows();

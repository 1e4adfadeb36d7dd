#pragma once
#include <string>
#include <vector>

#include "session/bench_profile.h"
#include "session/option_table.h"
#include "session/run_defaults.h"
#include "session/run_plan.h"
#include "session/session_request.h"

enum CliCommand {
    CLI_NONE,
    CLI_TEST,
    CLI_FIRMWARE,
    CLI_SCREENS,
    CLI_PORTS,
    CLI_INSPECT,
    CLI_SCAN,
    CLI_REPORT,
    CLI_RECORDS,
    CLI_HELP,
    CLI_VERSION,
};

constexpr int CLI_SIMULATE_DEFAULT = 1;  // keypads a lone --simulate starts
constexpr int CLI_SIMULATE_MAX = 32;

struct CliOptions {
    CliCommand command = CLI_NONE;
    // The sessions' command, file (the bytes of the argument, as given), port
    // (the first of the plan's; empty: the settings store's), --yes, --trace,
    // --quiet, --repeat, --stall-timeout and --expect-sha256 (or the profile's).
    SessionRequest request;
    // Every --port (or ORBIX_PORT) as given, --ports-from, --profile and its
    // slots, --all, --log, --resume, --jobs, --retries and ORBIX_RETRY_DELAY_MS.
    RunPlan plan;
    bool simulate = false;
    int simulateCount = 0;                // keypads --simulate starts
    bool repeatOnEnter = false;           // --repeat=enter: the next unit on Enter, not on removal
    bool json = false;                    // --json: JSON Lines on stdout
    bool force = false;                   // install a firmware file with damaged records exactly as it is read
    std::vector<std::string> reportLogs;  // report and records push: the logs read
    bool csv = false;                     // report: a row per unit, as CSV
};

// 1 when the arguments are well formed; otherwise 0 with `error` set. Reads
// ORBIX_PORT when --port is absent and the command talks to a keypad.
int ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The --help text and the table it is made from.
const std::string& CliUsage();
const std::vector<OptionRow>& CliOptionRows();

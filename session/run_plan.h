#pragma once
#include <string>
#include <vector>

#include "bench_profile.h"
#include "run_defaults.h"
#include "serial_desk.h"
#include "session_request.h"

// How a run goes beyond each session's request, as a front end's options give it.
struct RunPlan {
    std::vector<std::string> ports;  // each named on its own (the first is the request's), in order
    std::string portsFrom;           // a fleet file, "-" for standard input
    std::string profile;             // the bench profile whose slots follow
    std::vector<BenchSlot> slots;
    bool all = false;                           // an auto port: every keypad that answers, not one
    std::string logFile;                        // every result appended here
    std::string resumeLog;                      // the ports whose last record here is ok are left out
    std::string database;                       // the log's records also sent here (a URL); empty: nowhere
    int jobs = DEFAULT_JOBS;                    // keypads at once
    int retries = 0;                            // attempts after the first for one that failed
    int retryDelayMs = DEFAULT_RETRY_DELAY_MS;  // before the first of them, doubled for each after
    std::string serial;                         // --serial: the one keypad's serial number
    SerialRules serials;                        // what stations ask of each unit's serial, the pattern, --again
    // Who writes the records: the program ("orbix-flash"), the station (empty:
    // the host's name) and the operator.
    std::string program;
    std::string station;
    std::string operatorName;
};

// 0 with `error` (in the options' words) when the plan's parts cannot go
// together: an auto port beside other ports, every keypad that answers
// without an auto port, a resume for stations.
int CheckRunPlan(const SessionRequest& request, const RunPlan& plan, std::string& error);

// A bench profile's run from a terminal: its command and image (which must
// hash to its sha256), its slots as stations, its log (unless the plan has
// one already), retries and stall time-out.
void ApplyBenchProfile(const std::string& path, const BenchProfile& profile, SessionRequest& request, RunPlan& plan);

// The back-off of retries from ORBIX_RETRY_DELAY_MS, which tests shorten; 0 with `error` when it is no number.
int ReadRetryDelay(RunPlan& plan, std::string& error);

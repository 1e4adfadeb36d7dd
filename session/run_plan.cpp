#include "run_plan.h"

#include <algorithm>
#include <cstdlib>

#include "database_url.h"
#include "option_table.h"
#include "serial/port_naming.h"

int CheckRunPlan(const SessionRequest& request, const RunPlan& plan, std::string& error) {
    // A station's units come and go on one port: none is ever done for good. A unit that failed
    // is tried again in its station, as a profile's retries are.
    if (request.repeat && !plan.resumeLog.empty()) {
        error = "--resume does not go with --repeat";
        return 0;
    }
    for (const std::string& name : plan.ports)
        if (IsAutoPort(name) && (plan.ports.size() > 1 || !plan.portsFrom.empty())) {
            error = "--port " + name + " cannot be given with other ports";
            return 0;
        }
    // The log is the record of truth: the database is fed from it, and catches up from it.
    if (!plan.database.empty() && plan.logFile.empty()) {
        error = "--database needs --log: the records go to the database from the log";
        return 0;
    }
    DatabaseUrl url;
    if (!plan.database.empty() && !ParseDatabaseUrl(plan.database, url, error)) return 0;
    if (plan.all && (plan.ports.empty() || !IsAutoPort(plan.ports[0]))) {
        error = "--all goes with --port auto or --port auto:GLOB";
        return 0;
    }
    return 1;
}

void ApplyBenchProfile(const std::string& path, const BenchProfile& profile, SessionRequest& request, RunPlan& plan) {
    request.command = profile.command;
    request.file = BenchProfilePath(path, profile.image);
    request.expectedSha256 = profile.sha256;
    request.stallTimeoutSeconds = profile.stallTimeoutSeconds;
    request.repeat = true;
    plan.profile = path;
    if (plan.logFile.empty()) plan.logFile = BenchProfilePath(path, profile.log);
    if (plan.database.empty()) plan.database = profile.database;
    plan.retries = profile.retries;
    plan.slots = profile.slots;
    plan.serials.need = profile.serial;
    if (!profile.serialPattern.empty() && plan.serials.pattern.Text().empty()) {  // --serial-pattern first
        std::string unused;                                                       // compiled when the profile was read
        plan.serials.pattern.Set(profile.serialPattern, unused);
    }
    if (plan.station.empty()) plan.station = profile.station;
    plan.jobs = std::max(plan.jobs, static_cast<int>(profile.slots.size()));
}

int ReadRetryDelay(RunPlan& plan, std::string& error) {
    const char* text = std::getenv("ORBIX_RETRY_DELAY_MS");
    return !text || !*text ||
           ReadNumber(text, "ORBIX_RETRY_DELAY_MS", 0, MOST_RETRY_DELAY_MS, plan.retryDelayMs, error,
                      " of milliseconds");
}

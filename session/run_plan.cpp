#include "run_plan.h"

#include <algorithm>

#include "serial/port_naming.h"

int CheckRunPlan(const SessionRequest& request, const RunPlan& plan, std::string& error) {
    // A station's units come and go on one port: a port is neither tried again nor done.
    if (request.repeat && (plan.retries > 0 || !plan.resumeLog.empty())) {
        error = std::string(plan.retries > 0 ? "--retries" : "--resume") + " does not go with --repeat";
        return 0;
    }
    for (const std::string& name : plan.ports)
        if (IsAutoPort(name) && (plan.ports.size() > 1 || !plan.portsFrom.empty())) {
            error = "--port " + name + " cannot be given with other ports";
            return 0;
        }
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
    plan.retries = profile.retries;
    plan.slots = profile.slots;
    plan.jobs = std::max(plan.jobs, static_cast<int>(profile.slots.size()));
}

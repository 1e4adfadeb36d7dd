#include "port_discovery.h"

#ifndef _WIN32
#include <glob.h>
#endif

#include <algorithm>
#include <set>

#include "serial/port_list.h"
#include "serial/port_naming.h"

namespace {

#ifndef _WIN32
std::vector<std::string> Glob(const std::string& pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i) paths.push_back(found.gl_pathv[i]);
    globfree(&found);
    return paths;
}
#endif

}  // namespace

std::vector<std::string> CandidatePorts(const std::string& autoName) {
    std::vector<std::string> names;
#ifdef _WIN32
    const std::string glob = autoName.rfind("auto:", 0) == 0 ? autoName.substr(5) : "*";
    for (const SystemPort& port : SystemPorts())
        if (ComNameMatches(glob, PlainComName(port.device))) names.push_back(PlainComName(port.device));
#else
    if (autoName.rfind("auto:", 0) == 0) {
        names = Glob(autoName.substr(5));
    } else {
        for (const SystemPort& port : SystemPorts()) {
            names.push_back(port.device);
            if (!port.link.empty()) names.push_back(port.link);
        }
    }
#endif
    std::sort(names.begin(), names.end());
    std::vector<std::string> unique;
    std::set<std::string> devices;
    for (const std::string& name : names)
        if (devices.insert(DeviceIdentity(name)).second) unique.push_back(name);
    return unique;
}

#include "port_discovery.h"

#include <glob.h>
#include <limits.h>
#include <stdlib.h>

#include <QSerialPortInfo>
#include <algorithm>
#include <set>

namespace {

std::vector<std::string> Glob(const std::string& pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i) paths.push_back(found.gl_pathv[i]);
    globfree(&found);
    return paths;
}

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

std::vector<std::string> CandidatePorts(const std::string& autoName) {
    std::vector<std::string> names;
    if (autoName.rfind("auto:", 0) == 0) {
        names = Glob(autoName.substr(5));
    } else {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            names.push_back(info.systemLocation().toStdString());
        for (const std::string& link : Glob("/dev/serial/by-id/*")) names.push_back(link);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> unique;
    std::set<std::string> devices;
    for (const std::string& name : names)
        if (devices.insert(Canonical(name)).second) unique.push_back(name);
    return unique;
}

#include "fleet.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "port_discovery.h"
#include "serial/port_naming.h"

namespace {

// The words of a line up to a comment (a word starting with #).
std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word && word[0] != '#') words.push_back(word);
    return words;
}

int ReadLines(std::istream& in, const std::string& name, std::vector<PortTarget>& targets, std::string& error) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        std::string where = name + " line " + std::to_string(number);
        PortSpec parsed;
        if (IsAutoPort(words[0]) || !ParsePortArgument(words[0], parsed)) {
            error = where + ": \"" + words[0] +
                    "\" is not a port (a COM number, a device path, rfc2217://HOST:PORT or tcp://HOST:PORT)";
            return 0;
        }
        if (words.size() > 2) {
            error = where + ": a port and a unit name, then nothing but a # comment";
            return 0;
        }
        targets.push_back({words[0], "", words.size() > 1 ? words[1] : "", where + " (" + words[0] + ")"});
    }
    if (in.bad()) {
        error = name + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

}  // namespace

int ReadFleetFile(const std::string& path, std::vector<PortTarget>& targets, std::string& error) {
    if (path == "-") return ReadLines(std::cin, "standard input", targets, error);
    std::ifstream file(path);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    return ReadLines(file, path, targets, error);
}

int CheckPortsDiffer(const std::vector<PortTarget>& targets, std::string& error) {
    std::vector<std::string> identities;
    for (const PortTarget& target : targets) identities.push_back(DeviceIdentity(target.port));
    for (size_t i = 0; i < targets.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (identities[i] == identities[j]) {
                error = targets[j].source + " and " + targets[i].source + " are the same port";
                return 0;
            }
    return 1;
}

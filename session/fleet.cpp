#include "fleet.h"

#include <QString>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
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

// The file as UTF-8: its byte-order mark left out, UTF-16 (as Windows editors save "Unicode") turned into UTF-8.
std::string AsUtf8(std::string text) {
    auto starts = [&](const char* mark) { return text.rfind(mark, 0) == 0; };
    if (starts("\xEF\xBB\xBF")) return text.substr(3);
    bool little = starts("\xFF\xFE"), big = starts("\xFE\xFF");
    if (!little && !big) return text;
    std::u16string units;
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
        auto low = static_cast<unsigned char>(text[i + (big ? 1 : 0)]),
             high = static_cast<unsigned char>(text[i + (big ? 0 : 1)]);
        units.push_back(static_cast<char16_t>(high << 8 | low));
    }
    return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
}

int ReadLines(std::istream& raw, const std::string& name, std::vector<PortTarget>& targets, std::string& error) {
    std::istringstream in(AsUtf8(std::string(std::istreambuf_iterator<char>(raw), {})));
    if (raw.bad()) {
        error = name + ": " + std::strerror(errno);
        return 0;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string where = name + " line " + std::to_string(number);
        // Refused before anything starts: a name read wrongly would name the wrong keypad in every record.
        if (!IsUtf8(line)) {
            error = where + ": \"" + line + "\" is not UTF-8 text (save the file as UTF-8)";
            return 0;
        }
        std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        PortSpec parsed;
        if (IsAutoPort(words[0]) || !ParsePortArgument(words[0], parsed)) {
            error = where + ": \"" + words[0] +
                    "\" is not a port (a COM number, a device path, rfc2217://HOST:PORT or tcp://HOST:PORT)";
            return 0;
        }
        if (words.size() > 3) {
            error = where + ": a port, a unit name and a serial number, then nothing but a # comment";
            return 0;
        }
        targets.push_back({words[0], "", words.size() > 1 ? words[1] : "", where + " (" + words[0] + ")"});
        if (words.size() > 2) targets.back().serial = words[2];
    }
    return 1;
}

}  // namespace

bool IsUtf8(const std::string& text) {
    QByteArray bytes = QByteArray::fromStdString(text);
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

int ReadFleetFile(const std::string& path, std::vector<PortTarget>& targets, std::string& error) {
    if (path == "-") return ReadLines(std::cin, "standard input", targets, error);
    std::ifstream file(path, std::ios::binary);
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

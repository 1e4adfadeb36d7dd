#include "comm_settings.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',') fields.emplace_back();
        else if (!std::isspace(static_cast<unsigned char>(c))) fields.back() += c;
    }
    return fields;
}

// A whole decimal number within [low, high], or -1.
long Number(const std::string& field, long low, long high) {
    if (field.empty() || field.size() > 9) return -1;
    for (char c : field)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    long value = std::strtol(field.c_str(), nullptr, 10);
    return value >= low && value <= high ? value : -1;
}

}  // namespace

int ParseCommSettings(const std::string& text, CommSettings& settings) {
    std::vector<std::string> f = SplitFields(text);
    if (f.size() != 4) return 0;
    CommSettings parsed;
    parsed.baud = Number(f[0], 50, 100000000);
    if (parsed.baud < 0 || f[1].size() != 1) return 0;
    parsed.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(f[1][0])));
    if (std::string("neoms").find(parsed.parity) == std::string::npos) return 0;
    parsed.dataBits = static_cast<int>(Number(f[2], 5, 8));
    if (parsed.dataBits < 0) return 0;
    if (f[3] == "1") parsed.stopBits10 = 10;
    else if (f[3] == "1.5") parsed.stopBits10 = 15;
    else if (f[3] == "2") parsed.stopBits10 = 20;
    else return 0;
    settings = parsed;
    return 1;
}

#include "port_naming.h"

#include <cctype>
#include <cstdlib>

std::string ComDeviceName(int number) {
#ifdef _WIN32
    return "COM" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}

int ComNumberOfDevice(const std::string& device) {
#ifdef _WIN32
    const std::string prefix = "COM";
    int offset = 0;
#else
    const std::string prefix = "/dev/ttyS";
    int offset = 1;
#endif
    if (device.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string digits = device.substr(prefix.size());
    if (digits.empty() || digits.size() > 4) return 0;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    return std::atoi(digits.c_str()) + offset;
}

int ParsePortArgument(const std::string& text, PortSpec& port) {
    std::string digits = text;
    if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(digits[2])) == 'M')
        digits = digits.substr(3);
    bool allDigits = !digits.empty() && digits.size() <= 4;
    for (char c : digits) allDigits = allDigits && std::isdigit(static_cast<unsigned char>(c));
    if (allDigits) {
        int number = std::atoi(digits.c_str());
        if (number < 1) return 0;
        port = {number, ComDeviceName(number)};
        return 1;
    }
    if (text.empty() || text.find('/') == std::string::npos) return 0;
    port = {ComNumberOfDevice(text), text};
    return 1;
}

bool IsAutoPort(const std::string& text) { return text == "auto" || text.rfind("auto:", 0) == 0; }

PortSpec PortFromSettings(int comPort, const std::string& portName) {
    if (!portName.empty()) return {ComNumberOfDevice(portName), portName};
    // Port 0 (which an empty Preferences choice stores) names no device.
    return {comPort, comPort > 0 ? ComDeviceName(comPort) : std::string()};
}

std::string PortLabel(const PortSpec& port) {
    return port.number > 0 || port.device.empty() ? std::to_string(port.number) : port.device;
}

int ClassifyWindowsVersion(unsigned platformId, unsigned major, unsigned minor, unsigned build) {
    build &= 0xFFFF;
    if (platformId == 1 && major == 4) {
        if (minor < 10) return build == 950 ? 1 : build > 950 && build <= 1080 ? 2 : build > 1080 ? 3 : 0;
        if (minor == 10) return build == 1998 ? 4 : build > 1998 && build < 2183 ? 5 : build >= 2183 ? 6 : 0;
        if (minor == 90) return 7;
        return 0;
    }
    if (platformId == 2) {
        if (major == 3 && minor == 51) return 101;
        if (major == 4 && minor == 0) return 102;
        if (major == 5 && minor == 0) return 103;
        if (major == 5 && minor == 1) return 104;
        return 0;
    }
    return platformId == 3 ? 201 : 0;
}

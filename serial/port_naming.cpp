#include "port_naming.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// Not empty, and every character a letter, a digit or one of `extra`.
bool NameOf(const std::string& text, const char* extra) {
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && (c == '\0' || !std::strchr(extra, c))) return false;
    return !text.empty();
}

bool DigitsOnly(const std::string& text) {
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return !text.empty();
}

}  // namespace

std::string ComDeviceName(int number, DeviceNaming naming) {
    if (naming == NAMING_POSIX) return "/dev/ttyS" + std::to_string(number - 1);
    // Only COM1 to COM9 are reserved names; the others exist in the device namespace alone.
    return (number < 10 ? "COM" : "\\\\.\\COM") + std::to_string(number);
}

int ComNumberOfDevice(const std::string& device, DeviceNaming naming) {
    std::string digits;
    int offset = 0;
    if (naming == NAMING_POSIX) {
        const std::string prefix = "/dev/ttyS";
        if (device.compare(0, prefix.size(), prefix) != 0) return 0;
        digits = device.substr(prefix.size());
        offset = 1;
    } else {
        std::string name = PlainComName(device);
        if (!StartsWithNoCase(name, "com")) return 0;
        digits = name.substr(3);
    }
    if (!DigitsOnly(digits) || digits.size() > 4) return 0;
    return std::atoi(digits.c_str()) + offset;
}

std::string PlainComName(const std::string& device) {
    return device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
}

bool ComNameMatches(const std::string& glob, const std::string& name) {
    auto same = [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); };
    size_t g = 0, n = 0;
    size_t star = std::string::npos, resume = 0;  // the last * seen, and where its match would grow from
    while (n < name.size()) {
        if (g < glob.size() && glob[g] == '*') {
            star = g++;
            resume = n;
        } else if (g < glob.size() && (glob[g] == '?' || same(glob[g], name[n]))) {
            ++g;
            ++n;
        } else if (star != std::string::npos) {
            g = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == '*') ++g;
    return g == glob.size();
}

bool IsNetworkPortName(const std::string& text) {
    size_t scheme = text.find("://");
    return scheme != std::string::npos && scheme > 0 && NameOf(text.substr(0, scheme), "");
}

int ParseNetworkPortName(const std::string& text, NetworkPortName& name) {
    NetworkPortName parsed;
    if (StartsWithNoCase(text, "rfc2217://")) parsed.rfc2217 = true;
    else if (!StartsWithNoCase(text, "tcp://")) return 0;
    parsed.address = text.substr(text.find("://") + 3);
    size_t colon = parsed.address.rfind(':');
    if (colon == std::string::npos) return 0;
    std::string host = parsed.address.substr(0, colon);
    std::string port = parsed.address.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        parsed.host = host.substr(1, host.size() - 2);
        if (!NameOf(parsed.host, ":.%") || parsed.host.find(':') == std::string::npos) return 0;
    } else {
        parsed.host = host;
        if (!NameOf(parsed.host, ".-_")) return 0;
    }
    if (!DigitsOnly(port) || port.size() > 5) return 0;
    parsed.port = std::atoi(port.c_str());
    if (parsed.port < 1 || parsed.port > 65535) return 0;
    name = parsed;
    return 1;
}

int ParsePortArgument(const std::string& text, PortSpec& port) {
    if (IsNetworkPortName(text)) {
        NetworkPortName name;
        if (!ParseNetworkPortName(text, name)) return 0;
        port = {0, text};
        return 1;
    }
    // \\.\COMN, the name Windows lists from COM10 on, is COMN.
    std::string name = PlainComName(text);
    bool deviceNamespace = name != text;
    std::string digits = name.size() > 3 && StartsWithNoCase(name, "com") ? name.substr(3)
                         : deviceNamespace                                  ? ""
                                                                            : name;
    if (DigitsOnly(digits) && digits.size() <= 4) {
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

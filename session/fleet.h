#pragma once
#include <string>
#include <utility>
#include <vector>

// One keypad to talk to: the port as the user named it, and the device to
// open when it is not that name (a simulated keypad's pseudo-terminal).
struct PortTarget {
    PortTarget(std::string port_ = "", std::string device_ = "", std::string unit_ = "", std::string source_ = "")
        : port(std::move(port_)), device(std::move(device_)), unit(std::move(unit_)), source(std::move(source_)) {}
    std::string port;
    std::string device;
    std::string unit;    // the name the user gave the keypad, if any ("B2-lobby")
    std::string source;  // where it was named, for messages: "--port X", "FILE line N (X)"
    std::string serial;  // the keypad's serial number, when known

    // As lines and messages name it: its unit name and port, or the port.
    std::string Label() const { return unit.empty() ? port : unit + " (" + port + ")"; }
};

// Whether `text` is UTF-8 as it stands: a name read wrongly would name the wrong keypad in every record.
bool IsUtf8(const std::string& text);

// --ports-from: one port per line, optionally followed by a unit name and the
// keypad's serial number; blank
// lines and lines starting with # are skipped. "-" reads standard input.
// 0 with `error` naming the line when one cannot be a port.
int ReadFleetFile(const std::string& path, std::vector<PortTarget>& targets, std::string& error);

// Two sessions on one device would fight over it: 0 with `error` naming both
// places when two targets are the same device or host:port.
int CheckPortsDiffer(const std::vector<PortTarget>& targets, std::string& error);

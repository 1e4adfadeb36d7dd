#pragma once
#include <string>

// A port as the user names it: COM N (a number from the settings store or
// the command line), a device path taken as it is, or a network port
// (rfc2217://HOST:PORT, tcp://HOST:PORT) kept as written.
struct PortSpec {
    int number = 0;      // COM N; 0 when the port is named by path alone
    std::string device;  // what is opened
};

// How the system names serial devices. Both forms are plain text, so each is
// tested on every system.
enum DeviceNaming { NAMING_POSIX, NAMING_WINDOWS };
#ifdef _WIN32
constexpr DeviceNaming SYSTEM_NAMING = NAMING_WINDOWS;
#else
constexpr DeviceNaming SYSTEM_NAMING = NAMING_POSIX;
#endif

// The device behind COM N: /dev/ttyS(N-1) on POSIX systems; on Windows
// "COMN" for COM1 to COM9 and \\.\COMN above, the only form Windows opens there.
std::string ComDeviceName(int number, DeviceNaming naming = SYSTEM_NAMING);
// The COM number of a device name, 0 when it has none.
int ComNumberOfDevice(const std::string& device, DeviceNaming naming = SYSTEM_NAMING);
// The name Windows lists a port under: COM10 for \\.\COM10 (the option parser takes only that one).
std::string PlainComName(const std::string& device);
// Whether a COM name matches GLOB (* and ?, any case): how auto:GLOB picks ports on Windows.
bool ComNameMatches(const std::string& glob, const std::string& name);
// "3", "COM3" or "\\.\COM3" (any case), a device path or a network port. 0 when the text
// names no port.
int ParsePortArgument(const std::string& text, PortSpec& port);
// "auto" (every serial port) or "auto:GLOB" (the devices matching GLOB): the
// port is whichever answers the connection test.
bool IsAutoPort(const std::string& text);
// The port as the settings store keeps it: "PortName" when set, else "ComPort".
PortSpec PortFromSettings(int comPort, const std::string& portName);
// For messages: "3" for COM3, or the path.
std::string PortLabel(const PortSpec& port);

// A port behind a serial device server: Telnet with serial port control
// (RFC 2217), or raw bytes over TCP.
struct NetworkPortName {
    bool rfc2217 = false;
    std::string host;     // a name, an IPv4 address, or an IPv6 address without its brackets
    int port = 0;         // 1 to 65535
    std::string address;  // HOST:PORT as written, for messages
};

// Whether the text has the form SCHEME://..., which only network ports use.
bool IsNetworkPortName(const std::string& text);
// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (scheme in any case; an IPv6
// HOST in brackets). 0 when the text is not one.
int ParseNetworkPortName(const std::string& text, NetworkPortName& name);

#pragma once
#include <string>

// A port as the user names it: COM N (a number from the settings store or
// the command line), or a device path taken as it is.
struct PortSpec {
    int number = 0;      // COM N; 0 when the port is named by path alone
    std::string device;  // what is opened
};

// The device behind COM N: "COMN" on Windows, /dev/ttyS(N-1) elsewhere.
std::string ComDeviceName(int number);
// The COM number of a device path, 0 when it has none.
int ComNumberOfDevice(const std::string& device);
// "3", "COM3" (any case) or a device path. 0 when the text names no port.
int ParsePortArgument(const std::string& text, PortSpec& port);
// "auto" (every serial port) or "auto:GLOB" (the devices matching GLOB): the
// port is whichever answers the connection test.
bool IsAutoPort(const std::string& text);
// The port as the settings store keeps it: "PortName" when set, else "ComPort".
PortSpec PortFromSettings(int comPort, const std::string& portName);
// For messages: "3" for COM3, or the path.
std::string PortLabel(const PortSpec& port);

// The Windows version code of the availability check (0 outside the table).
int ClassifyWindowsVersion(unsigned platformId, unsigned major, unsigned minor, unsigned build);

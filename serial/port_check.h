#pragma once
// Whether a serial port can be opened, asked of the system before the port
// layer opens it. Plain C++: compiled and tested in the Windows build too.
#include <string>

// Why a port could not be opened, in words a user can act on.
enum CommOpenError { COMM_OPEN_OK, COMM_NOT_FOUND, COMM_IN_USE, COMM_PERMISSION, COMM_OTHER };

// Whether the device can be opened right now. On Windows a table of versions
// decides whether to look at all: only the NT family up to XP and CE are
// probed, on every other version the port counts as available (opening it
// says why not).
int IsComPortAvailable(const std::string& device, CommOpenError* why = nullptr);

// The check above and, on Windows, an open for reading and writing as the port layer's own,
// with the wait for the port's events that its open starts, closed at once. Unlike the check
// this may wait for as long as the driver holds either up (a Bluetooth port connecting, a driver
// waiting on the modem lines or on a UART that is not there): run it on a thread of its own.
int TryComPort(const std::string& device, CommOpenError* why = nullptr);

// Opens the device without reading or writing it, without blocking, and
// closes it at once. 0 (and why) when it cannot be opened.
int ProbeComPort(const std::string& device, CommOpenError* why = nullptr);

// The Windows version code of the availability check (0 outside the table).
int ClassifyWindowsVersion(unsigned platformId, unsigned major, unsigned minor, unsigned build);

#ifdef _WIN32
// The running system's version code. 0 when the version cannot be read.
int GetWindowsVersionCode(int& code);
#endif

#include "port_check.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

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

#ifdef _WIN32

int GetWindowsVersionCode(int& code) {
    code = 0;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 0;
    code = ClassifyWindowsVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    return 1;
}

namespace {

// The device opened with `access`; INVALID_HANDLE_VALUE (and why) when it does not open.
HANDLE OpenHandle(const std::string& device, DWORD access, DWORD share, DWORD flags, CommOpenError* why) {
    HANDLE handle = CreateFileA(device.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE && why) {
        // A serial port is opened by one program at a time: refused access means another has it.
        DWORD error = GetLastError();
        *why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND         ? COMM_NOT_FOUND
               : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? COMM_IN_USE
                                                                                    : COMM_OTHER;
    }
    return handle;
}

// Starts a wait for the port's events, as QSerialPort's open does, and cancels it: Wine's driver
// for a UART that is not there holds that call up instead of letting it wait in the background.
void StartAndCancelEventWait(HANDLE port) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return;
    DWORD events = 0;
    if (SetCommMask(port, EV_RXCHAR) && !WaitCommEvent(port, &events, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        CancelIo(port);
        DWORD unused = 0;
        GetOverlappedResult(port, &overlapped, &unused, TRUE);  // the cancel done, `overlapped` is free
    }
    CloseHandle(overlapped.hEvent);
}

}  // namespace

int ProbeComPort(const std::string& device, CommOpenError* why) {
    HANDLE handle = OpenHandle(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, why);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(handle);
    return 1;
}

int IsComPortAvailable(const std::string& device, CommOpenError* why) {
    int code = 0;
    if (!GetWindowsVersionCode(code) || code < 99) return 1;
    return ProbeComPort(device, why);
}

// As the port layer opens it: for reading and writing, to itself, for overlapped reads.
int TryComPort(const std::string& device, CommOpenError* why) {
    if (!IsComPortAvailable(device, why)) return 0;
    HANDLE handle = OpenHandle(device, GENERIC_READ | GENERIC_WRITE, 0, FILE_FLAG_OVERLAPPED, why);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    StartAndCancelEventWait(handle);
    CloseHandle(handle);
    return 1;
}

#else

int ProbeComPort(const std::string& device, CommOpenError* why) {
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (why) {
            *why = errno == ENOENT || errno == ENODEV || errno == ENXIO ? COMM_NOT_FOUND
                   : errno == EACCES || errno == EPERM                  ? COMM_PERMISSION
                   : errno == EBUSY                                     ? COMM_IN_USE
                                                                        : COMM_OTHER;
        }
        return 0;
    }
    ::close(fd);
    return 1;
}

int IsComPortAvailable(const std::string& device, CommOpenError* why) { return ProbeComPort(device, why); }

int TryComPort(const std::string& device, CommOpenError* why) { return IsComPortAvailable(device, why); }

#endif

#include "serial_port.h"

#include <QFileInfo>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "port_lock.h"
#include "port_naming.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#endif

namespace {

// Qt's lock file goes by the name the device was opened under, and its
// exclusive mode does not hold root back; an advisory lock on the device
// itself stops a second loader whatever the name and whoever runs it. False
// only when another holder has it (a device that takes no locks is let be).
bool LockDevice(QSerialPort& port) {
#ifdef Q_OS_UNIX
    return ::flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
#else
    Q_UNUSED(port);
    return true;
#endif
}

std::string OpenFailureText(const std::string& device, CommOpenError error) {
    switch (error) {
    case COMM_NOT_FOUND:
        return device + ": no such device";
    case COMM_IN_USE:
        return device + ": in use by another program";
    case COMM_PERMISSION:
        return device +
               ": permission denied (the user must belong to the group that owns the device, dialout on Debian)";
    default:
        return device + ": the device could not be opened";
    }
}

}  // namespace

PortCapabilities CSerialPort::Capabilities(const std::string& device) {
    PortCapabilities can;
    can.listed = can.quietCheck = can.sendsBreak = true;
#ifdef Q_OS_LINUX
    std::error_code ec;
    can.asksLowLatency = std::filesystem::canonical(device, ec).string().rfind("/dev/pts/", 0) != 0;
#else
    Q_UNUSED(device);
#endif
    return can;
}

std::string CSerialPort::Identity(const std::string& name) {
    PortSpec port;
    if (!ParsePortArgument(name, port)) return name;
#ifdef Q_OS_WIN
    if (port.number > 0) return "com " + std::to_string(port.number);
    return "path " + QString::fromStdString(port.device).toLower().toStdString();
#else
    char resolved[PATH_MAX];
    const std::string path = realpath(port.device.c_str(), resolved) ? std::string(resolved) : port.device;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return "path " + path;
    // A device node is the device whatever its name; another file is its inode.
    if (S_ISCHR(info.st_mode)) return "dev " + std::to_string(info.st_rdev);
    return "inode " + std::to_string(info.st_dev) + " " + std::to_string(info.st_ino);
#endif
}

CSerialPort::CSerialPort(QObject* parent, const LineConfig& line) : IPortLayer(parent), m_line(line) {
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        if (m_port.bytesAvailable() > 0) Q_EMIT BytesArrived();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &CSerialPort::OnError);
#ifdef Q_OS_WIN
    connect(&m_trial, &COpenTrial::Tried, this, &CSerialPort::Tried);
    m_openDeadline.setSingleShot(true);
    connect(&m_openDeadline, &QTimer::timeout, this, [this] {
        char text[64];
        std::snprintf(text, sizeof text, ": did not open within %g seconds", SERIAL_OPEN_TIMEOUT_MS / 1000.0);
        OpenEnded(0, m_opening + text + " (its driver is still waiting for the device)");
    });
#endif
}

CSerialPort::~CSerialPort() { m_port.close(); }

int CSerialPort::Open(const std::string& device, std::string& reason) {
    const int open = WaitForOpen(device, reason);
    if (open >= 0) return open;
    reason = device + ": interrupted while opening";  // closed meanwhile
    return 0;
}

void CSerialPort::StartOpen(const std::string& device, OpenDone opened) {
    Close();
    m_opening = device;
    m_opened = std::move(opened);
#ifdef Q_OS_WIN
    m_openDeadline.start(SERIAL_OPEN_TIMEOUT_MS);
    m_trial.Start(device);
#else
    // Opened without blocking here: tried at once, and open (or not) before this returns.
    CommOpenError failure = COMM_OPEN_OK;
    const int available = TryComPort(device, &failure);
    Tried(available, failure);
#endif
}

void CSerialPort::Tried(int available, CommOpenError failure) {
    if (available) failure = OpenDevice(QString::fromStdString(m_opening));
    if (failure == COMM_OPEN_OK) return OpenEnded(1, {});
    OpenEnded(0, OpenFailureText(m_opening, failure) + (failure == COMM_IN_USE ? HolderText(m_holder) : ""));
}

void CSerialPort::CancelOpen() {
    if (IsOpening()) OpenEnded(0, m_opening + ": interrupted while opening");
}

void CSerialPort::OpenEnded(int open, const std::string& reason) {
    OpenDone opened = std::exchange(m_opened, nullptr);
    StopTrying();
    opened(open, reason);
}

void CSerialPort::StopTrying() {
#ifdef Q_OS_WIN
    m_openDeadline.stop();
    m_trial.Stop();
#endif
    WakeOpenWait();
}

void CSerialPort::Close() {
    m_opened = nullptr;
    StopTrying();
    m_port.close();
}

// A pseudo-terminal has no modem lines: failing to set them is no error.
void CSerialPort::SetBreak(bool on) {
    if (m_port.isOpen()) m_port.setBreakEnabled(on);
}

bool CSerialPort::ApplyLine() {
    bool ok = m_port.setBaudRate(m_line.baud);
    ok = m_port.setParity(m_line.parity) && ok;
    ok = m_port.setDataBits(m_line.dataBits) && ok;
    ok = m_port.setStopBits(m_line.stopBits) && ok;
    ok = m_port.setFlowControl(m_line.flow) && ok;
    return ok;
}

void CSerialPort::SetLowLatency() {
    m_lowLatency = false;
#ifdef Q_OS_LINUX
    serial_struct serial{};
    int fd = static_cast<int>(m_port.handle());
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        m_lowLatency = ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
#endif
}

CommOpenError CSerialPort::OpenDevice(const QString& device) {
    // Qt's own lock file refuses a port for any file at its name; only a live holder counts here.
    m_holder = ClearStaleLock(device.toStdString());
    if (m_holder.held || !m_holder.problem.empty()) return COMM_IN_USE;
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        QFileInfo info(device);
        CommOpenError error = info.exists() ? COMM_OTHER : COMM_NOT_FOUND;
        if (m_port.error() == QSerialPort::DeviceNotFoundError) error = COMM_NOT_FOUND;
        // Both a lock held by another program and file modes give this; the modes tell which.
        if (m_port.error() == QSerialPort::PermissionError)
            error = info.exists() && !(info.isReadable() && info.isWritable()) ? COMM_PERMISSION : COMM_IN_USE;
        m_port.clearError();
        return error;
    }
    if (!LockDevice(m_port)) {
        m_port.close();
        return COMM_IN_USE;
    }
    ApplyLine();
    m_port.setDataTerminalReady(true);
    if (m_line.flow != QSerialPort::HardwareControl) m_port.setRequestToSend(false);
    SetLowLatency();
    m_port.clearError();
    return COMM_OPEN_OK;
}

void CSerialPort::Write(const uint8_t* data, int count) {
    if (!m_port.isOpen() || count <= 0) return;
#ifdef Q_OS_UNIX
    // Straight to the device while nothing waits in QSerialPort's buffer: going through it arms
    // and disarms its write notifier for every frame, two more turns of the event loop a frame.
    // What the device does not take now (or a failure, which QSerialPort then reports) goes the
    // usual way.
    if (m_port.bytesToWrite() == 0) {
        ssize_t written;
        do written = ::write(static_cast<int>(m_port.handle()), data, static_cast<size_t>(count));
        while (written < 0 && errno == EINTR);
        if (written == count) return;
        if (written > 0) {
            data += written;
            count -= static_cast<int>(written);
        }
    }
#endif
    m_port.write(reinterpret_cast<const char*>(data), count);
    // Out now, not on the next turn of the event loop: every reply waits on it.
    m_port.flush();
}

QByteArray CSerialPort::Read() {
    if (!m_port.isOpen()) return {};
    // Bytes the event loop fetched come with their notice; what follows them in the driver
    // brings one of its own, so only a read without a notice asks the driver (one system
    // call less a frame).
    [[maybe_unused]] const bool noticed = m_port.bytesAvailable() > 0;
    // Always through QSerialPort: reading it is what starts its next read of the device on Windows.
    QByteArray bytes = m_port.readAll();
#ifdef Q_OS_UNIX
    if (noticed) return bytes;
    // Also what the driver holds and the event loop has not fetched yet, so
    // that "every waiting byte" holds right after an open too.
    char block[4096];
    ssize_t got;
    while ((got = ::read(static_cast<int>(m_port.handle()), block, sizeof block)) > 0)
        bytes.append(block, static_cast<qsizetype>(got));
#endif
    return bytes;
}

bool CSerialPort::DeviceGone(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) return true;
#ifdef Q_OS_WIN
    // Windows reports a removed device (not ready, broken pipe, not connected, aborted, access
    // denied) through whichever call meets it first: a write that fails, or, from a wait, often
    // an unknown error, after which the device is asked whether it still answers.
    DWORD errors = 0;
    COMSTAT status{};
    return error == QSerialPort::WriteError ||
           (error != QSerialPort::NoError && error != QSerialPort::TimeoutError &&
            !ClearCommError(m_port.handle(), &errors, &status));
#else
    return false;  // a write error here may be a full output buffer
#endif
}

void CSerialPort::OnError(QSerialPort::SerialPortError error) {
    // A device that went away ends the port: a pulled USB adapter gives a
    // resource error, a hung-up line a read error on every poll. A
    // pseudo-terminal refusing a modem line or BREAK is no fault.
    if (!m_port.isOpen() || !DeviceGone(error)) return;
    m_port.close();
    Q_EMIT PortLost();
}

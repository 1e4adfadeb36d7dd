#pragma once
#include <QByteArray>
#include <QSerialPort>
#include <string>

#include "port_check.h"
#include "port_layer.h"
#include "port_lock.h"
#ifdef Q_OS_WIN
#include <QTimer>

#include "open_trial.h"
#endif

// How a serial line is set: the keypad's by default (115200 baud, 8 data
// bits, no parity, 1 stop bit, no flow control).
struct LineConfig {
    qint32 baud = 115200;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
};

// How long a COM port may take to open on Windows before it counts as not answering, as long as
// a network port's connection may.
constexpr int SERIAL_OPEN_TIMEOUT_MS = 5000;

// A serial device (COM N, a USB adapter, a pseudo-terminal): locked against a
// second loader, in low-latency mode where the driver offers it, DTR on and
// (without flow control) RTS off, one write per frame, and reads that drain
// everything waiting. On Windows, where opening a COM port may wait on its device, it is tried
// on a thread of its own first, and an open that hangs ends after SERIAL_OPEN_TIMEOUT_MS.
class CSerialPort : public IPortLayer {
    Q_OBJECT
public:
    explicit CSerialPort(QObject* parent = nullptr, const LineConfig& line = LineConfig());
    ~CSerialPort() override;

    // Waits for the open in an event loop of its own that takes no user input.
    int Open(const std::string& device, std::string& reason) override;
    void StartOpen(const std::string& device, OpenDone opened) override;
    bool IsOpening() const override { return m_opened != nullptr; }
    void CancelOpen() override;
    void Close() override;
    bool IsOpen() const override { return m_port.isOpen(); }
    void Write(const uint8_t* data, int count) override;
    void SetBreak(bool on) override;
    QByteArray Read() override;
    bool LowLatency() const override { return m_lowLatency; }

    // Listed by the system, checked quietly, with BREAK; low-latency mode asked for where the system lets
    // a program ask (only Linux: elsewhere it is the driver's setting, the README says where), and a
    // pseudo-terminal has no driver to ask.
    static PortCapabilities Capabilities(const std::string& device);
    // The device node's number after links (on Windows its COM number or its path, in any case).
    static std::string Identity(const std::string& device);

private:
    void Tried(int available, CommOpenError failure);
    void OpenEnded(int open, const std::string& reason);
    void StopTrying();  // the open under way, if any
    CommOpenError OpenDevice(const QString& device);
    bool ApplyLine();
    void SetLowLatency();
    bool DeviceGone(QSerialPort::SerialPortError error);
    void OnError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    LineConfig m_line;
    bool m_lowLatency = false;
    PortLockHolder m_holder;  // who had the port at the last open
#ifdef Q_OS_WIN
    COpenTrial m_trial;
    QTimer m_openDeadline;
#endif
    std::string m_opening;  // the device of the open under way
    OpenDone m_opened;      // of the open under way
};

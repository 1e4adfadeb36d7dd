#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "comm_settings.h"
#include "port_check.h"

// The serial port with the properties the loader sets: port, settings string,
// binary input, DTR on, RTS off, no null discard, no EOF handling, no
// handshake, BREAK, one write per Output, Input that drains everything
// waiting, and a receive event as soon as RThreshold bytes wait.
class CMSComm : public QObject {
    Q_OBJECT
public:
    static constexpr int COMEV_RECEIVE = 2;

    explicit CMSComm(QObject* parent = nullptr);
    ~CMSComm() override;

    void SetCommPort(const QString& device) { m_device = device; }
    const QString& CommPort() const { return m_device; }
    int SetSettings(const QString& text);  // 0 when the text is not understood
    void SetInputMode(int mode) { m_inputMode = mode; }
    void SetDTREnable(bool on);
    void SetRTSEnable(bool on);
    void SetNullDiscard(bool on) { m_nullDiscard = on; }
    void SetSThreshold(int n) { m_sThreshold = n; }
    void SetEOFEnable(bool on) { m_eofEnable = on; }
    void SetHandshaking(int mode) { m_handshaking = mode; }
    void SetRThreshold(int n) { m_rThreshold = n; }
    void SetBreak(bool on);

    bool PortOpen() const { return m_port.isOpen(); }
    // Opens or closes; 0 when opening failed (OpenError tells why).
    int SetPortOpen(bool open);
    CommOpenError OpenError() const { return m_openError; }
    // 1 when the driver was put into low-latency mode.
    bool LowLatency() const { return m_lowLatency; }

    // Writes in one call; nothing on a closed port.
    void Output(const uint8_t* data, int count);
    // Every byte waiting, removed from the port; empty on a closed port.
    QByteArray Input();
    int CommEvent() const { return m_commEvent; }

signals:
    // Bytes are waiting (CommEvent says why the event came).
    void OnComm();
    // The device went away while open; the port is closed. Sent once.
    void PortLost();

private:
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    bool ApplySettings();
    void SetLowLatency();

    QSerialPort m_port;
    QString m_device;
    CommSettings m_settings;
    int m_inputMode = 0;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_nullDiscard = false;
    int m_sThreshold = 0;
    bool m_eofEnable = false;
    int m_handshaking = 0;
    int m_rThreshold = 0;
    int m_commEvent = 0;
    bool m_lowLatency = false;
    CommOpenError m_openError = COMM_OPEN_OK;
};

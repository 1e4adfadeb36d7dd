#pragma once
#include "ms_comm.h"
#include "port_layer.h"

// A serial device (COM N, a USB adapter, a pseudo-terminal) through CMSComm.
class CSerialPortLayer : public IPortLayer {
    Q_OBJECT
public:
    explicit CSerialPortLayer(QObject* parent = nullptr);

    int Open(const std::string& device, std::string& reason) override;
    void Close() override { m_comm.SetPortOpen(false); }
    bool IsOpen() const override { return m_comm.PortOpen(); }
    void Write(const uint8_t* data, int count) override { m_comm.Output(data, count); }
    void SetBreak(bool on) override { m_comm.SetBreak(on); }
    QByteArray Read() override { return m_comm.Input(); }
    bool LowLatency() const override { return m_comm.LowLatency(); }

private:
    CMSComm m_comm;
};

#include "ports.h"

#include <QSerialPortInfo>
#include <cstdio>

#include "serial/port_naming.h"

int ListPorts() {
    const auto ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty()) {
        std::printf("No serial ports found.\n");
        return 0;
    }
    std::printf("%-6s %-24s %-28s %-10s %s\n", "COM", "DEVICE", "DESCRIPTION", "USB ID", "SERIAL");
    for (const QSerialPortInfo& port : ports) {
        std::string device = port.systemLocation().toStdString();
        int number = ComNumberOfDevice(device);
        std::string com = number > 0 ? "COM" + std::to_string(number) : "-";
        char usb[16] = "-";
        if (port.hasVendorIdentifier() && port.hasProductIdentifier())
            std::snprintf(usb, sizeof usb, "%04x:%04x", port.vendorIdentifier(), port.productIdentifier());
        QString description = port.description().isEmpty() ? QStringLiteral("-") : port.description();
        QString serial = port.serialNumber().isEmpty() ? QStringLiteral("-") : port.serialNumber();
        std::printf("%-6s %-24s %-28s %-10s %s\n", com.c_str(), device.c_str(),
                    description.toLocal8Bit().constData(), usb, serial.toLocal8Bit().constData());
    }
    return 0;
}

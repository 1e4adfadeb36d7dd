#include "port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

#include "port_naming.h"

namespace {

std::function<std::vector<SystemPort>()> g_replacement;

#ifndef _WIN32
// usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: the bus before the first dash, the interface
// after the last words; between them the maker, the product and the serial number.
std::string ByIdDescription(const QString& linkName) {
    QString words = linkName.section(QLatin1Char('-'), 1);
    words.remove(QRegularExpression(QStringLiteral("-if[0-9]+.*$")));
    return words.replace(QLatin1Char('_'), QLatin1Char(' ')).toStdString();
}

void AddByIdLinks(std::vector<SystemPort>& ports) {
    const QDir folder(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const std::string target = link.canonicalFilePath().toStdString();
        auto listed = std::find_if(ports.begin(), ports.end(), [&](const SystemPort& p) { return p.device == target; });
        if (listed == ports.end()) {
            SystemPort unlisted;
            unlisted.device = link.absoluteFilePath().toStdString();
            ports.push_back(unlisted);
            listed = ports.end() - 1;
        } else {
            listed->link = link.absoluteFilePath().toStdString();
        }
        if (listed->description.empty()) listed->description = ByIdDescription(link.fileName());
    }
}
#endif

}  // namespace

std::vector<SystemPort> SystemPorts() {
    if (g_replacement) return g_replacement();
    std::vector<SystemPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SystemPort port;
        port.device = info.systemLocation().toStdString();
        port.description = info.description().toStdString();
        port.serialNumber = info.serialNumber().toStdString();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            port.vendorId = info.vendorIdentifier();
            port.productId = info.productIdentifier();
        }
        ports.push_back(std::move(port));
    }
#ifndef _WIN32
    AddByIdLinks(ports);
#endif
    return ports;
}

void ReplaceSystemPorts(std::function<std::vector<SystemPort>()> list) { g_replacement = std::move(list); }

std::string PortDescription(const SystemPort& port) {
    if (port.description.empty()) return port.serialNumber;
#ifdef _WIN32
    // The Device Manager adds the COM name to the device's own description.
    return port.description + " (" + PlainComName(port.device) + ")";
#else
    // A by-id name holds the serial number already.
    if (port.serialNumber.empty() || port.description.find(port.serialNumber) != std::string::npos)
        return port.description;
    return port.description + " " + port.serialNumber;
#endif
}

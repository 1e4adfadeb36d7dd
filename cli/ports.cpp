#include "ports.h"

#include <cstdio>

#include "console_output.h"
#include "serial/port_list.h"
#include "serial/port_naming.h"

int ListPorts() {
    const std::vector<SystemPort> ports = SystemPorts();
    if (ports.empty()) {
        std::printf("No serial ports found.\n");
        return 0;
    }
    std::printf("%-6s %-24s %-28s %-10s %s\n", "COM", "DEVICE", "DESCRIPTION", "USB ID", "SERIAL");
    for (const SystemPort& port : ports) {
        int number = ComNumberOfDevice(port.device);
        std::string com = number > 0 ? "COM" + std::to_string(number) : "-";
        char usb[16] = "-";
        if (port.vendorId >= 0) std::snprintf(usb, sizeof usb, "%04x:%04x", port.vendorId, port.productId);
        // The names are the devices' own: a USB adapter can say anything.
        std::printf("%-6s %-24s %-28s %-10s %s\n", com.c_str(), Printable(port.device).c_str(),
                    port.description.empty() ? "-" : Printable(port.description).c_str(), usb,
                    port.serialNumber.empty() ? "-" : Printable(port.serialNumber).c_str());
    }
    return 0;
}

#pragma once
#include <string>
#include <vector>

// A serial port the system lists, with what it says about the device.
struct SystemPort {
    std::string device;  // where it is opened: /dev/ttyUSB0, COM3
    std::string description;
    std::string serialNumber;
    int vendorId = -1;  // USB IDs, -1 when the device has none
    int productId = -1;
};

// Every serial port the system lists right now: what `ports` shows, what an
// auto port probes and what Preferences offers.
std::vector<SystemPort> SystemPorts();

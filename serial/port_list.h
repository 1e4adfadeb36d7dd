#pragma once
#include <functional>
#include <string>
#include <vector>

// A serial port the system lists, with what it says about the device.
struct SystemPort {
    std::string device;  // where it is opened: /dev/ttyUSB0, COM3
    std::string description;
    std::string serialNumber;
    int vendorId = -1;  // USB IDs, -1 when the device has none
    int productId = -1;
    std::string link;  // a name that stays with the adapter (/dev/serial/by-id/...), empty when none
};

// Every serial port the system lists right now: what `ports` shows, what an
// auto port probes and what Preferences offers. On Linux a /dev/serial/by-id
// link names its device's product and serial number when the list does not;
// a link to a device the list lacks is a port of its own.
std::vector<SystemPort> SystemPorts();

// Tests stand in for the system here (pseudo-terminals with simulated keypads
// behind them); an empty function gives the system's list back.
void ReplaceSystemPorts(std::function<std::vector<SystemPort>()> list);

// What a person knows the port by: on Windows the name the Device Manager
// shows ("USB Serial Port (COM5)"), elsewhere the product and its serial
// number. Empty when the system says nothing about it.
std::string PortDescription(const SystemPort& port);

#pragma once
#include <memory>
#include <string>

#include "port_layer.h"

// The kinds of port a name can open (one row each in port_factory.cpp).
struct PortType;

// The kind of port that opens `name`, by the name's form; null, with `reason`, when the name
// names no port.
const PortType* PortTypeOf(const std::string& name, std::string& reason);
// A closed port of that kind, made on the calling thread.
std::unique_ptr<IPortLayer> MakePortLayer(const PortType& type);
// Both: the closed port that opens `name`, or null with why not.
std::unique_ptr<IPortLayer> MakePortLayer(const std::string& name, std::string& reason);

// What the port `name` opens can do; nothing for a name that names no port.
PortCapabilities CapabilitiesOf(const std::string& name);
// What a port name stands for, so that two names of one device compare equal: a device node by
// its device number (after links, /dev/serial/by-id included), a network port by host and port
// (either scheme). A name that names no port stands for itself.
std::string DeviceIdentity(const std::string& name);

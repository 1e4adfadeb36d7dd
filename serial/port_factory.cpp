#include "port_factory.h"

#include "network/network_port.h"
#include "port_naming.h"
#include "serial_port.h"

struct PortType {
    bool (*opens)(const std::string& name);
    std::unique_ptr<IPortLayer> (*make)();
    PortCapabilities (*capabilities)(const std::string& name);
    std::string (*identity)(const std::string& name);
};

namespace {

template <typename Layer>
std::unique_ptr<IPortLayer> Make() {
    return std::make_unique<Layer>();
}

// A kind of port's row: the names it opens, then what its class says of them.
template <typename Layer>
constexpr PortType Row(bool (*opens)(const std::string&)) {
    return {opens, Make<Layer>, Layer::Capabilities, Layer::Identity};
}

bool AnyDevice(const std::string&) { return true; }

// The first row whose names match opens the port: a new kind of port is its class and a row
// above the last, which takes every other name as a device path.
const PortType PORT_TYPES[] = {
    Row<CNetworkPort>(IsNetworkPortName),
    Row<CSerialPort>(AnyDevice),
};

}  // namespace

const PortType* PortTypeOf(const std::string& name, std::string& reason) {
    // COM 0, which an empty Preferences choice stores, names no device.
    if (name.empty()) {
        reason = "no serial port is chosen";
        return nullptr;
    }
    for (const PortType& type : PORT_TYPES)
        if (type.opens(name)) return &type;
    return nullptr;  // not reached: the last row takes every name
}

std::unique_ptr<IPortLayer> MakePortLayer(const PortType& type) { return type.make(); }

std::unique_ptr<IPortLayer> MakePortLayer(const std::string& name, std::string& reason) {
    const PortType* type = PortTypeOf(name, reason);
    return type ? MakePortLayer(*type) : nullptr;
}

PortCapabilities CapabilitiesOf(const std::string& name) {
    std::string reason;
    const PortType* type = PortTypeOf(name, reason);
    return type ? type->capabilities(name) : PortCapabilities();
}

std::string DeviceIdentity(const std::string& name) {
    std::string reason;
    const PortType* type = PortTypeOf(name, reason);
    return type ? type->identity(name) : name;
}

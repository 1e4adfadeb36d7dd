// Arbitrary text as a line-settings string and as a --port argument.
#include <string>

#include "serial/comm_settings.h"
#include "serial/port_naming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    CommSettings settings;
    if (ParseCommSettings(text, settings)) {
        if (settings.dataBits < 5 || settings.dataBits > 8 || settings.baud < 1) __builtin_trap();
    }
    PortSpec port;
    if (ParsePortArgument(text, port)) PortLabel(port);
    return 0;
}

// Arbitrary text as a --port argument (or a stored port setting). The line's
// configuration is typed, so no text of it is parsed any more.
#include <cstdint>
#include <string>

#include "serial/port_naming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    PortSpec port;
    if (ParsePortArgument(text, port)) PortLabel(port);
    return 0;
}

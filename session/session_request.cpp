#include "session_request.h"

const char* KeypadCommandWord(KeypadCommand command) {
    static const char* const WORDS[] = {"test", "scan", "firmware", "screens"};
    return WORDS[command];
}

std::optional<PortSpec> RequestedPort(const SessionRequest& request, const std::string& simulatedDevice) {
    if (!simulatedDevice.empty()) return PortSpec{0, simulatedDevice};
    if (PortSpec port; !request.port.empty() && ParsePortArgument(request.port, port)) return port;
    return std::nullopt;
}

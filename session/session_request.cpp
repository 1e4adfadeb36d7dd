#include "session_request.h"

const char* KeypadCommandWord(KeypadCommand command) {
    static const char* const WORDS[] = {"test", "scan", "firmware", "screens"};
    return WORDS[command];
}

std::string HoldsNoValidText(KeypadCommand update) {
    return std::string("The keypad holds no valid ") + KeypadCommandWord(update) +
           " and stays in its update mode: run the update again.";
}

std::string WillHoldNoValidText(KeypadCommand update, bool everyKeypad) {
    return std::string(everyKeypad ? "The keypads being updated" : "The keypad") + " will have no valid " +
           KeypadCommandWord(update) + (everyKeypad ? " until they are" : " until it is") + " updated again.";
}

std::optional<PortSpec> RequestedPort(const SessionRequest& request, const std::string& simulatedDevice) {
    if (!simulatedDevice.empty()) return PortSpec{0, simulatedDevice};
    if (PortSpec port; !request.port.empty() && ParsePortArgument(request.port, port)) return port;
    return std::nullopt;
}

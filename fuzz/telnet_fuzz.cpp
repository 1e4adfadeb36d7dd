// Arbitrary bytes from a serial device server, in two reads split where the
// first byte says: the session must neither crash nor make up data.
#include <cstddef>
#include <vector>

#include "serial/network/com_port_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CComPortSession session;
    std::vector<uint8_t> answers;
    std::vector<uint8_t> received;
    session.Start(answers);
    size_t split = size ? data[0] % (size + 1) : 0;
    session.Receive(data, static_cast<int>(split), received, answers);
    session.Receive(data + split, static_cast<int>(size - split), received, answers);
    if (received.size() > size) __builtin_trap();
    return 0;
}

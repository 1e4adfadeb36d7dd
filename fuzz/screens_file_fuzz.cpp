// Arbitrary bytes as a screens file, then a screens update that sends them
// all, answered by RSP_OK as fast as it asks.
#include "fuzz_host.h"
#include "link/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzHost host;
    host.file = WriteFuzzFile(".bin", data, size);
    CLoaderEngine engine(host);
    StartUpdate(engine, false);
    if (!engine.IsBusy()) return 0;
    const uint8_t ack[] = {FRAME_START, 0x01, RSP_ACK, RSP_ACK};
    const uint8_t memId[] = {FRAME_START, 0x0C, RSP_MEM_ID, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0x84};
    const uint8_t ok[] = {FRAME_START, 0x01, RSP_OK, RSP_OK};
    engine.FeedBytes(ack, sizeof ack);
    engine.FeedBytes(memId, sizeof memId);
    for (size_t guard = 0; engine.IsBusy() && guard < size / 100 + 16; ++guard) engine.FeedBytes(ok, sizeof ok);
    return 0;
}

// Wire bytes into an engine in each mode: the frame parser, the reply
// dispatch and every step the replies reach. The first byte picks the mode;
// a byte after an 0xF0 0xF0 pair fires a timer, so time-outs mix with replies.
#include <cstddef>
#include <cstdint>

#include "fuzz_host.h"

namespace {
// A small firmware image and a screens image, written once.
const uint8_t FIRMWARE[] = "S0030000FC\nS1130000000102030405060708090A0B0C0D0E0F74\nS10700100A0B0C0DC0\n";
const uint8_t SCREENS[] = "screens image bytes, a few of them";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static std::string firmware = WriteFuzzFile(".s", FIRMWARE, sizeof FIRMWARE - 1);
    static std::string screens = WriteFuzzFile(".bin", SCREENS, sizeof SCREENS - 1);
    CFuzzHost host;
    CLoaderEngine engine(host);
    switch (data[0] % 4) {
    case 1:
        engine.OnTestConnection();
        break;
    case 2:
        host.file = firmware;
        StartUpdate(engine, true);
        break;
    case 3:
        host.file = screens;
        StartUpdate(engine, false);
        break;
    default:
        break;
    }
    for (size_t i = 1; i < size; ++i) {
        if (i + 2 < size && data[i] == 0xF0 && data[i + 1] == 0xF0) {
            engine.OnTimer(data[i + 2] % 5);
            i += 2;
            continue;
        }
        engine.FeedBytes(data + i, 1);
    }
    engine.Abort();
    return 0;
}

// Arbitrary bytes as a firmware file: the whole file step, S-record parse included.
#include "fuzz_host.h"
#include "engine/file_steps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzHost host;
    host.file = WriteFuzzFile(".s", data, size);
    CImageBuffer image;
    std::string path;
    if (OpenFirmwareFile(host, image, path).Accepted()) {
        // What an update would read: every byte of the image.
        volatile uint8_t sink = 0;
        for (uint32_t i = 0; i < image.Length(); ++i) sink = sink ^ image.Data()[i];
        (void)sink;
    }
    return 0;
}

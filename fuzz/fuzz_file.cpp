#include <unistd.h>

#include <cstdio>

#include "fuzz_host.h"

std::string WriteFuzzFile(const char* suffix, const uint8_t* data, size_t size) {
    std::string path = "/tmp/orbix-fuzz-" + std::to_string(getpid()) + suffix;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

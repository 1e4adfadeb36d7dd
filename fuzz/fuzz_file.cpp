#include <filesystem>
#include <fstream>
#include <random>

#include "fuzz_host.h"
#include "tests/support/scratch_dir.h"

std::string WriteFuzzFile(const char* suffix, const uint8_t* data, size_t size) {
    // One name a process: fuzzers and replays run side by side.
    static const std::filesystem::path stem =
        std::filesystem::temp_directory_path() / ("orbix-fuzz-" + std::to_string(std::random_device()()));
    std::filesystem::path path = stem;
    path += suffix;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return out ? CoreName(path) : "";
}

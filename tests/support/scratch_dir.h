#pragma once
// Folders and file names for tests that hand files to the core.
#include <filesystem>
#include <random>
#include <string>

// A new, empty folder in the system's temporary folder. The name is made
// unique with a random number: test processes run side by side.
inline std::filesystem::path MakeScratchDir(const std::string& stem) {
    std::random_device random;
    std::filesystem::path dir;
    do dir = std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(random()));
    while (!std::filesystem::create_directory(dir));
    return dir;
}

// A file's name as the hosts give it to the core: UTF-8 on Windows, the
// name's own bytes on POSIX systems (where the standard library keeps them as
// they are).
inline std::string CoreName(const std::filesystem::path& path) {
    std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

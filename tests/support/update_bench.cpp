#include "update_bench.h"

#include <unistd.h>

#include <fstream>

namespace fs = std::filesystem;

UpdateBench::UpdateBench(const KeypadConfig& config) : peer(host, config) {
    static int benches = 0;
    m_dir = fs::temp_directory_path() / ("orbix-update-" + std::to_string(getpid()) + "-" + std::to_string(++benches));
    fs::create_directories(m_dir);
}

UpdateBench::~UpdateBench() {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

std::string UpdateBench::WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = (m_dir / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

void UpdateBench::StartFirmwareFile(const std::string& srecordText) {
    host.chooseFile = WriteFile("firmware.s", srecordText);
    Engine().OnUpdateFirmware();
}

void UpdateBench::StartFirmware(const std::vector<uint8_t>& image) { StartFirmwareFile(SRecordText(image)); }

void UpdateBench::StartScreens(const std::vector<uint8_t>& image) {
    host.chooseFile = WriteFile("screens.bin", std::string(image.begin(), image.end()));
    Engine().OnUpdateScreens();
}

std::vector<uint8_t> PatternImage(size_t length) {
    std::vector<uint8_t> image(length);
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251 + 3);
    return image;
}

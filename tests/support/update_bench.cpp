#include "update_bench.h"

#include <fstream>

#include "support/scratch_dir.h"

namespace fs = std::filesystem;

UpdateBench::UpdateBench(const KeypadConfig& config) : peer(host, config), m_dir(MakeScratchDir("orbix-update")) {}

UpdateBench::~UpdateBench() {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

std::string UpdateBench::WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(m_dir / name, std::ios::binary) << bytes;
    return CoreName(m_dir / name);
}

void UpdateBench::StartFirmwareFile(const std::string& srecordText) {
    host.chooseFile = WriteFile("firmware.s", srecordText);
    host.UpdateFirmware();
}

void UpdateBench::StartFirmware(const std::vector<uint8_t>& image) { StartFirmwareFile(SRecordText(image)); }

void UpdateBench::StartScreens(const std::vector<uint8_t>& image) {
    host.chooseFile = WriteFile("screens.bin", std::string(image.begin(), image.end()));
    host.UpdateScreens();
}

std::vector<uint8_t> PatternImage(size_t length) {
    std::vector<uint8_t> image(length);
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251 + 3);
    return image;
}

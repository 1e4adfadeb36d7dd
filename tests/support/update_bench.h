#pragma once
// A loader and a simulated keypad on one virtual-time wire, with the image
// files an update asks for written to a folder of their own.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "support/model_peer.h"

class UpdateBench {
public:
    explicit UpdateBench(const KeypadConfig& config = KeypadConfig());
    ~UpdateBench();
    UpdateBench(const UpdateBench&) = delete;
    UpdateBench& operator=(const UpdateBench&) = delete;

    CLoaderEngine& Engine() { return host.Engine(); }
    CKeypadModel& Model() { return peer.Model(); }

    // Writes a file into the bench's folder and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes);
    // Writes the image as an S-record file (or as a .bin) and clicks the button.
    void StartFirmware(const std::vector<uint8_t>& image);
    void StartFirmwareFile(const std::string& srecordText);
    void StartScreens(const std::vector<uint8_t>& image);

    FakeHost host;
    ModelPeer peer;

private:
    std::filesystem::path m_dir;
};

// Image bytes that are neither all alike nor all zero, so a misplaced chunk shows.
std::vector<uint8_t> PatternImage(size_t length);

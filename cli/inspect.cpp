#include "inspect.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "console_output.h"
#include "session/wide_path.h"

#include "engine/file_steps.h"
#include "image/srecord.h"
#include "link/messages.h"

namespace {

// Answers the file step with the named file and keeps the settings alone.
struct InspectHost : IUserHost {
    std::string path;
    bool firmware = false;
    int ChooseFile(const FileDialogSpec&, std::string& chosen) override {
        chosen = path;
        return 1;
    }
    int AskYesNo(const std::string&) override { return 0; }
    // The damage is reported below, in the refusal's own words.
    int AcceptDamagedFile(const std::string&) override { return 1; }
    int GetProfileInt(const char*, int defaultValue) override { return defaultValue; }
    void WriteProfileInt(const char*, int) override {}
    std::string GetProfileString(const char*, const std::string& defaultValue) override { return defaultValue; }
    void WriteProfileString(const char*, const std::string&) override {}
};

// Counts the bytes the data chunks take on the line, as the sender escapes them.
struct LineCounter : IFrameWriter {
    uint64_t bytes = 0;
    void WriteFrameToPort(const uint8_t*, int count) override { bytes += static_cast<uint64_t>(count); }
};

// What the first bytes say the file is; the firmware step takes only the first.
enum FileShape { SHAPE_UNREADABLE, SHAPE_FIRMWARE, SHAPE_OTHER_SRECORDS, SHAPE_INTEL_HEX, SHAPE_RAW };

FileShape ShapeOf(const std::string& path) {
#ifdef _WIN32
    std::FILE* f = _wfopen(WidePath(path).c_str(), L"rb");
#else
    std::FILE* f = std::fopen(path.c_str(), "rb");
#endif
    if (!f) return SHAPE_UNREADABLE;
    unsigned char head[4] = {};
    size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got == 4 && std::memcmp(head, "S003", 4) == 0) return SHAPE_FIRMWARE;
    if (got >= 2 && head[0] == 'S' && std::isdigit(head[1])) return SHAPE_OTHER_SRECORDS;
    if (got >= 2 && head[0] == ':' && std::isxdigit(head[1])) return SHAPE_INTEL_HEX;
    return SHAPE_RAW;
}

const char* KindText(FileShape shape) {
    switch (shape) {
    case SHAPE_FIRMWARE:
        return "firmware (S-records)";
    case SHAPE_OTHER_SRECORDS:
        return "S-records that do not begin with \"S003\": not a firmware file for this keypad";
    case SHAPE_INTEL_HEX:
        return "Intel HEX (lines begin with ':'): firmware must be S-records beginning with \"S003\"";
    default:
        return "screens (raw bytes)";
    }
}

// The damaged data records, and the first as the firmware step's refusal words it.
struct Damage {
    unsigned count = 0;
    std::string first;
};

Damage DamageOf(const FileStepResult& result) {
    Damage damage;
    if (!result.damagedRecords) return damage;
    damage.count = result.damagedRecords;
    damage.first = DamageText(result.firstDamage, result.firstDamagedLine);
    return damage;
}

void PrintRecordStats(const SRecordStats& stats, const Damage& damage) {
    std::printf("Records:            ");
    for (int type = 0; type < 10; ++type)
        if (stats.recordsByType[type]) std::printf("S%d %u  ", type, stats.recordsByType[type]);
    std::printf("(other lines %u)\n", stats.otherLines);
    if (damage.count)
        std::printf("Damaged records:    %u, the first: %s (firmware refuses the file; --force installs it "
                    "as it is read)\n",
                    damage.count, damage.first.c_str());
    else
        std::printf("Record checksums:   all correct\n");
}

void PrintLineTime(const CImageBuffer& image, bool firmware) {
    uint32_t length = image.Length();
    LineCounter counter;
    CFrameSender sender(counter);
    uint64_t chunks = 0;
    for (uint32_t position = 0; position < length; position += DATA_CHUNK_MAX, ++chunks) {
        uint32_t count = length - position < DATA_CHUNK_MAX ? length - position : DATA_CHUNK_MAX;
        sender.BeginMessage();
        AppendDataChunk(sender, firmware ? CMD_FW_DATA : CMD_SCR_DATA, image.Data() + position,
                        static_cast<int>(count));
        sender.SendNewFrame();
    }
    uint32_t last = length % DATA_CHUNK_MAX ? length % DATA_CHUNK_MAX : DATA_CHUNK_MAX;
    std::printf("Data chunks:        %llu (%d bytes each, the last %u)\n", static_cast<unsigned long long>(chunks),
                DATA_CHUNK_MAX, last);
    // Each chunk's frame, then the keypad's 4-byte reply; 10 bits a byte.
    double seconds = static_cast<double>(counter.bytes + 4 * chunks) * 10.0 / 115200.0;
    std::printf("Transfer time:      %.1f s at 115200 baud (data phase, without erase)\n", seconds);
}

}  // namespace

int InspectFile(const std::string& path) {
    InspectHost host;
    host.path = path;
    FileShape shape = ShapeOf(path);
    host.firmware = shape != SHAPE_RAW && shape != SHAPE_UNREADABLE;
    CImageBuffer image;
    std::string chosen;
    SRecordStats stats;
    FileStepResult result =
        host.firmware ? OpenFirmwareFile(host, image, chosen, &stats) : OpenScreensFile(host, image, chosen);
    bool accepted = result.Accepted();
    Damage damage = DamageOf(result);
    if (shape != SHAPE_UNREADABLE) {
        std::printf("File:               %s\n", Printable(FileNameOf(path)).c_str());
        std::printf("Kind:               %s\n", KindText(shape));
    }
    if (accepted) {
        uint32_t length = image.Length();
        std::printf("Image length:       %u bytes\n", length);
        if (host.firmware) PrintRecordStats(stats, damage);
        uint16_t checksum = static_cast<uint16_t>(ComputeImageChecksum(image.Data(), length, 16));
        std::printf("Image checksum:     0x%04X\n", checksum);
        std::printf("End index offset:   0x%X (programming index + (length - 1) / 2)\n", EndIndexOf(0, length));
        PrintLineTime(image, host.firmware);
    } else if (damage.count) {
        PrintRecordStats(stats, damage);
    }
    if (accepted && !damage.count) return 0;
    std::fflush(stdout);
    std::fprintf(stderr, "orbix-flash: %s\n", Printable(accepted ? damage.first : result.text).c_str());
    return 2;
}

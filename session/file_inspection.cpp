#include "file_inspection.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/file_steps.h"
#include "link/messages.h"
#include "wide_path.h"

namespace {

// Answers the file step with the named file and keeps the settings alone.
struct InspectHost : IUserHost {
    std::string path;
    int ChooseFile(const FileDialogSpec&, std::string& chosen) override {
        chosen = path;
        return 1;
    }
    int AskYesNo(const std::string&) override { return 0; }
    // The damage is reported with the rest, in the refusal's own words.
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

void CountLineTime(const CImageBuffer& image, bool firmware, FileInspection& out) {
    LineCounter counter;
    CFrameSender sender(counter);
    for (uint32_t position = 0; position < out.length; position += DATA_CHUNK_MAX, ++out.chunks) {
        uint32_t count = out.length - position < DATA_CHUNK_MAX ? out.length - position : DATA_CHUNK_MAX;
        sender.BeginMessage();
        AppendDataChunk(sender, firmware ? CMD_FW_DATA : CMD_SCR_DATA, image.Data() + position,
                        static_cast<int>(count));
        sender.SendNewFrame();
    }
    out.lastChunk = out.length % DATA_CHUNK_MAX ? out.length % DATA_CHUNK_MAX : DATA_CHUNK_MAX;
    // Each chunk's frame, then the keypad's 4-byte reply; 10 bits a byte.
    out.transferSeconds = static_cast<double>(counter.bytes + 4 * out.chunks) * 10.0 / 115200.0;
}

}  // namespace

FileInspection InspectImageFile(const std::string& path) {
    FileInspection out;
    InspectHost host;
    host.path = path;
    FileShape shape = ShapeOf(path);
    out.readable = shape != SHAPE_UNREADABLE;
    out.firmware = shape != SHAPE_RAW && shape != SHAPE_UNREADABLE;
    out.kind = KindText(shape);
    CImageBuffer image;
    std::string chosen;
    FileStepResult result =
        out.firmware ? OpenFirmwareFile(host, image, chosen, &out.stats) : OpenScreensFile(host, image, chosen);
    out.accepted = result.Accepted();
    out.refusal = result.text;
    out.damagedRecords = result.damagedRecords;
    if (out.damagedRecords) out.firstDamage = DamageText(result.firstDamage, result.firstDamagedLine);
    if (!out.accepted) return out;
    out.length = image.Length();
    out.checksum = static_cast<uint16_t>(ComputeImageChecksum(image.Data(), out.length, 16));
    out.endIndexOffset = EndIndexOf(0, out.length);
    CountLineTime(image, out.firmware, out);
    return out;
}

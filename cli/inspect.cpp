#include "inspect.h"

#include <cstdio>

#include "console_output.h"
#include "engine/file_steps.h"
#include "link/messages.h"
#include "session/file_inspection.h"

namespace {

void PrintRecordStats(const FileInspection& file) {
    std::printf("Records:            ");
    for (int type = 0; type < 10; ++type)
        if (file.stats.recordsByType[type]) std::printf("S%d %u  ", type, file.stats.recordsByType[type]);
    std::printf("(other lines %u)\n", file.stats.otherLines);
    if (file.damagedRecords)
        std::printf("Damaged records:    %u, the first: %s (firmware refuses the file; --force installs it "
                    "as it is read)\n",
                    file.damagedRecords, file.firstDamage.c_str());
    else
        std::printf("Record checksums:   all correct\n");
}

}  // namespace

int InspectFile(const std::string& path) {
    FileInspection file = InspectImageFile(path);
    if (file.readable) {
        std::printf("File:               %s\n", Printable(FileNameOf(path)).c_str());
        std::printf("Kind:               %s\n", file.kind.c_str());
    }
    if (file.accepted) {
        std::printf("Image length:       %u bytes\n", file.length);
        if (file.firmware) PrintRecordStats(file);
        std::printf("Image checksum:     0x%04X\n", file.checksum);
        std::printf("End index offset:   0x%X (programming index + (length - 1) / 2)\n", file.endIndexOffset);
        std::printf("Data chunks:        %llu (%d bytes each, the last %u)\n",
                    static_cast<unsigned long long>(file.chunks), DATA_CHUNK_MAX, file.lastChunk);
        std::printf("Transfer time:      %.1f s at 115200 baud (data phase, without erase)\n", file.transferSeconds);
    } else if (file.damagedRecords) {
        PrintRecordStats(file);
    }
    if (file.accepted && !file.damagedRecords) return 0;
    std::fflush(stdout);
    std::fprintf(stderr, "orbix-flash: %s\n", Printable(file.accepted ? file.firstDamage : file.refusal).c_str());
    return 2;
}

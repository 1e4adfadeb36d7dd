#pragma once
#include <cstdint>
#include <string>

#include "image/srecord.h"

// What a firmware or screens file gives the loader, read as an update would
// read it, without a port: for `inspect` in any front end.
struct FileInspection {
    bool readable = false;  // the file could be opened at all
    bool firmware = false;  // read as firmware (S-records), else as screens
    std::string kind;       // "firmware (S-records)", or what else the first bytes say it is
    bool accepted = false;  // the update's file step takes it
    std::string refusal;    // the file step's words when it does not
    SRecordStats stats;     // of a firmware file
    unsigned damagedRecords = 0;
    std::string firstDamage;  // as the firmware step's refusal words it
    uint32_t length = 0;      // of the image
    uint16_t checksum = 0;
    uint32_t endIndexOffset = 0;
    uint64_t chunks = 0;         // data chunks the update sends
    uint32_t lastChunk = 0;      // bytes of the last one
    double transferSeconds = 0;  // of the data phase at 115200 baud
};

FileInspection InspectImageFile(const std::string& path);

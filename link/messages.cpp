#include "messages.h"

static void AppendLE32(CFrameSender& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.AppendByte(static_cast<uint8_t>(v >> (8 * i)));
}

static void AppendBE32(CFrameSender& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s.AppendByte(static_cast<uint8_t>(v >> (8 * i)));
}

static void AppendBE16(CFrameSender& s, uint16_t v) {
    s.AppendByte(static_cast<uint8_t>(v >> 8));
    s.AppendByte(static_cast<uint8_t>(v));
}

void AppendSync(CFrameSender& s) {
    s.AppendByte(CMD_SYNC);
    s.AppendByte(CMD_SYNC_2);
}

void AppendEraseSector(CFrameSender& s, uint8_t area, int sector) {
    s.AppendByte(CMD_ERASE_SECTOR);
    s.AppendByte(area);
    s.AppendByte(static_cast<uint8_t>(sector));
}

void AppendSetProgramIndex(CFrameSender& s, uint32_t index) {
    s.AppendByte(CMD_SET_PROG_INDEX);
    AppendLE32(s, index);
}

void AppendDataChunk(CFrameSender& s, uint8_t code, const uint8_t* bytes, int count) {
    s.AppendByte(code);
    for (int i = 0; i < count; ++i) s.AppendByte(bytes[i]);
}

void AppendChecksumQuery(CFrameSender& s, uint32_t startIndex, uint32_t endIndex, uint16_t checksum) {
    s.AppendByte(CMD_CHECKSUM_QUERY);
    AppendLE32(s, startIndex);
    AppendLE32(s, endIndex);
    s.AppendByte(static_cast<uint8_t>(checksum));
    s.AppendByte(static_cast<uint8_t>(checksum >> 8));
}

void AppendValidData(CFrameSender& s, uint16_t checksum, uint32_t startIndex, uint32_t endIndex,
                     uint32_t tag) {
    s.AppendByte(CMD_FW_DATA);
    AppendBE16(s, checksum);
    AppendBE16(s, static_cast<uint16_t>(checksum ^ 0xFFFF));
    AppendBE32(s, startIndex);
    AppendBE32(s, endIndex);
    AppendBE32(s, tag);
}

uint32_t ComputeImageChecksum(const uint8_t* image, uint32_t length, uint32_t start) {
    uint32_t sum = 0;
    uint32_t word = 0;
    for (uint32_t offset = start; offset < length; ++offset) {
        if ((offset & 1) == 0) {
            word = static_cast<uint32_t>(image[offset]) << 8;
        } else {
            word += image[offset];
            sum += word;
        }
    }
    return sum;
}

uint32_t EndIndexOf(uint32_t programIndex, uint32_t imageLength) {
    return programIndex + ((imageLength - 1) >> 1);
}

uint32_t ReadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t ReadBE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[0]) << 24;
}

void WriteLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

MemoryIdFirmware ReadFirmwareMemoryId(const uint8_t* record) {
    MemoryIdFirmware f;
    f.lastSector = record[10];
    f.programIndex = ReadLE32(record + 12);
    f.tagValue = ReadLE32(record + 16);
    if (f.tagValue == TAG_UNSET) f.tagValue = TAG_UNSET_REPLACEMENT;
    return f;
}

int ReadScreensMemoryId(const uint8_t* record) { return record[11]; }

#include "srecord.h"

#include <cstring>

int GetTextLine(char* dest, int maxCount, const char* source, size_t charsLeft) {
    int count = 0;
    while (count < maxCount && static_cast<size_t>(count) < charsLeft) {
        char c = source[count];
        dest[count++] = c;
        if (c == '\n') break;
    }
    return count;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

static int HexByte(const char* p) { return HexDigitValue(p[0]) * 16 + HexDigitValue(p[1]); }

// Characters of a line before its line ending.
static int ContentLength(const char* line, int length) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    return length;
}

static void CountRecord(SRecordStats& stats, const char* line, int content, int lineNumber) {
    if (content < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
        ++stats.otherLines;
        return;
    }
    ++stats.recordsByType[line[1] - '0'];
    if (content < 4) return;
    int count = HexByte(line + 2);
    if (content < 4 + 2 * count) return;  // too short to carry its sum
    unsigned sum = static_cast<unsigned>(count);
    for (int i = 0; i < count; ++i) sum += static_cast<unsigned>(HexByte(line + 4 + 2 * i));
    if ((sum & 0xFF) != 0xFF) {
        if (stats.badChecksums++ == 0) stats.firstBadChecksumLine = lineNumber;
    }
}

SRecordResult ParseSRecords(const char* text, size_t textLength, uint8_t* image, uint32_t imageSize,
                            uint32_t& imageLength, SRecordStats* stats) {
    std::memset(image, 0, imageSize);
    imageLength = 0;
    char line[SRECORD_LINE_MAX];
    size_t position = 0;
    int lineNumber = 0;
    do {
        int taken = GetTextLine(line, SRECORD_LINE_MAX, text + position, textLength - position);
        position += static_cast<size_t>(taken);
        ++lineNumber;
        int content = ContentLength(line, taken);
        if (stats) CountRecord(*stats, line, content, lineNumber);
        if (content < 2 || line[0] != 'S' || line[1] < '1' || line[1] > '3') continue;

        int addressBytes = line[1] - '0' + 1;
        if (content < 4 + 2 * addressBytes) return {SREC_TRUNCATED, lineNumber};
        uint32_t address = 0;
        for (int i = 0; i < 2 * addressBytes; ++i)
            address = address * 16 + static_cast<uint32_t>(HexDigitValue(line[4 + i]));
        int dataCount = HexByte(line + 2) - addressBytes - 1;
        if (dataCount < 0) continue;  // no data, and no sensible end offset
        const char* data = line + 4 + 2 * addressBytes;
        if (content < 4 + 2 * addressBytes + 2 * dataCount) return {SREC_TRUNCATED, lineNumber};

        // Signed, as the address field is taken: the top bit makes it negative.
        int64_t start = static_cast<int32_t>(address);
        for (int i = 0; i < dataCount; ++i) {
            int64_t offset = start + i;
            if (offset < 0 || offset >= imageSize)
                return {SREC_OUT_OF_RANGE, static_cast<int32_t>(offset)};
            image[offset] = static_cast<uint8_t>(HexByte(data + 2 * i));
        }
        int64_t end = start + dataCount;
        if (end >= 0 && end <= imageSize && end > imageLength) imageLength = static_cast<uint32_t>(end);
    } while (position < textLength);
    return {SREC_OK, 0};
}

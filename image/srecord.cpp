#include "srecord.h"

#include <cstring>

int GetTextLine(char* dest, int maxCount, const char* source, size_t charsLeft) {
    int count = 0;
    while (count < maxCount && static_cast<size_t>(count) < charsLeft) {
        char c = source[count];
        dest[count++] = c;
        if (c == '\n') break;
        if (c == '\r') {
            // CR LF is one ending; a lone CR (old Mac files) is one too.
            if (count < maxCount && static_cast<size_t>(count) < charsLeft && source[count] == '\n')
                dest[count++] = '\n';
            break;
        }
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

static bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Characters of a line before its line ending.
static int ContentLength(const char* line, int length) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    return length;
}

static void CountRecord(SRecordStats& stats, const char* line, int content) {
    if (content < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') ++stats.otherLines;
    else ++stats.recordsByType[line[1] - '0'];
}

// Checks a data record whose count field is present: every character of the
// count, address, data and sum is a hex digit, and the sum is there and right.
static SRecordDamage CheckDataRecord(const char* line, int content) {
    int count = HexByte(line + 2);
    int end = 4 + 2 * count;
    for (int i = 2; i < end && i < content; ++i)
        if (!IsHexDigit(line[i])) return SREC_DAMAGE_CHARACTER;
    if (content < end) return SREC_DAMAGE_CHECKSUM;  // the sum is missing
    unsigned sum = static_cast<unsigned>(count);
    for (int i = 0; i < count; ++i) sum += static_cast<unsigned>(HexByte(line + 4 + 2 * i));
    return (sum & 0xFF) == 0xFF ? SREC_DAMAGE_NONE : SREC_DAMAGE_CHECKSUM;
}

static void NoteDamage(SRecordResult& result, SRecordDamage damage, int lineNumber) {
    if (damage == SREC_DAMAGE_NONE) return;
    if (result.damagedRecords++ == 0) {
        result.firstDamagedLine = lineNumber;
        result.firstDamage = damage;
    }
}

SRecordResult ParseSRecords(const char* text, size_t textLength, uint8_t* image, uint32_t imageSize,
                            uint32_t& imageLength, SRecordStats* stats) {
    std::memset(image, 0, imageSize);
    imageLength = 0;
    SRecordResult result{SREC_OK, 0};
    char line[SRECORD_LINE_MAX];
    size_t position = 0;
    int lineNumber = 0;
    do {
        int taken = GetTextLine(line, SRECORD_LINE_MAX, text + position, textLength - position);
        position += static_cast<size_t>(taken);
        ++lineNumber;
        int content = ContentLength(line, taken);
        if (stats) CountRecord(*stats, line, content);
        if (content < 2 || line[0] != 'S' || line[1] < '1' || line[1] > '3') continue;

        int addressBytes = line[1] - '0' + 1;
        if (content < 4 + 2 * addressBytes) return {SREC_TRUNCATED, lineNumber};
        NoteDamage(result, CheckDataRecord(line, content), lineNumber);
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
    return result;
}

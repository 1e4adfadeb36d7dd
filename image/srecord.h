#pragma once
#include <cstddef>
#include <cstdint>

constexpr int SRECORD_LINE_MAX = 1024;

enum SRecordStatus {
    SREC_OK,
    SREC_OUT_OF_RANGE,  // value: the first offset outside the image
    SREC_TRUNCATED,     // value: 1-based line number
};

// What is wrong with the first damaged data record.
enum SRecordDamage { SREC_DAMAGE_NONE, SREC_DAMAGE_CHECKSUM, SREC_DAMAGE_CHARACTER };

struct SRecordResult {
    SRecordStatus status;
    int32_t value;
    // Data records (S1-S3) whose sum is wrong or missing, or that hold a
    // character that is not a hex digit. They are placed as read all the same:
    // the caller decides whether such an image may be installed.
    unsigned damagedRecords = 0;
    int firstDamagedLine = 0;  // 1-based; 0 when none
    SRecordDamage firstDamage = SREC_DAMAGE_NONE;
};

// What `inspect` reports beside the image; filled only when asked for.
struct SRecordStats {
    unsigned recordsByType[10] = {};  // S0..S9
    unsigned otherLines = 0;          // lines that are not S-records at all
    unsigned damagedRecords = 0;      // as in SRecordResult
    int firstDamagedLine = 0;
    SRecordDamage firstDamage = SREC_DAMAGE_NONE;
};

// Copies one line with its ending (LF, CR LF or a lone CR), at most maxCount
// characters and never past the end of the text. Returns the number copied.
int GetTextLine(char* dest, int maxCount, const char* source, size_t charsLeft);

// '0'-'9', 'A'-'F', 'a'-'f'; anything else counts as 0.
int HexDigitValue(char c);

// Places S1/S2/S3 data at their addresses in a zeroed image and sets
// imageLength to the highest end offset; non-hex digits count as 0. Damaged
// data records are counted in the result. Stops at the first byte outside the
// image, or at a record whose line ends before the data its count claims.
SRecordResult ParseSRecords(const char* text, size_t textLength, uint8_t* image, uint32_t imageSize,
                            uint32_t& imageLength, SRecordStats* stats = nullptr);

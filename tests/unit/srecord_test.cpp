// S-record parsing against files made by srec_cat (tests/data, see
// make-srecords.sh), compared with srec_cat's own binary of each, and against
// hand-written lines for what srec_cat never writes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image_buffer.h"
#include "image/srecord.h"

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream in(std::string(ORBIX_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Parsed {
    SRecordResult result;
    uint32_t length = 0;
    std::vector<uint8_t> image = std::vector<uint8_t>(FIRMWARE_IMAGE_SIZE, 0xEE);
};

Parsed Parse(const std::string& text, SRecordStats* stats = nullptr) {
    Parsed p;
    p.result = ParseSRecords(text.data(), text.size(), p.image.data(), FIRMWARE_IMAGE_SIZE, p.length, stats);
    return p;
}

}  // namespace

class SrecCatFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(SrecCatFiles, ImageEqualsSrecCatBinary) {
    std::string name = GetParam();
    std::string text = ReadFile(name + ".s");
    std::string expected = ReadFile(name + ".bin");
    ASSERT_FALSE(text.empty());
    ASSERT_FALSE(expected.empty());
    Parsed p = Parse(text);
    EXPECT_EQ(p.result.status, SREC_OK);
    ASSERT_EQ(p.length, expected.size());
    EXPECT_EQ(std::string(p.image.begin(), p.image.begin() + p.length), expected);
    // Beyond the image the buffer was cleared.
    EXPECT_EQ(p.image[p.length], 0);
}

INSTANTIATE_TEST_SUITE_P(SRecords, SrecCatFiles,
                         ::testing::Values("s1_gaps", "s1_unordered", "s2_crlf", "s3_long"));

TEST(SRecordLines, DigitsCaseAndSums) {
    // Lower-case digits, a wrong record sum, no final line feed: placed as
    // read, and both damaged records counted.
    Parsed p = Parse("S003\nS1070010a1b2c3d400\nS1050020ZZ01");
    EXPECT_EQ(p.result.status, SREC_OK);
    EXPECT_EQ(p.length, 0x22u);
    EXPECT_EQ(p.image[0x10], 0xA1);
    EXPECT_EQ(p.image[0x13], 0xD4);
    EXPECT_EQ(p.result.damagedRecords, 2u);
    EXPECT_EQ(p.result.firstDamagedLine, 2);
    EXPECT_EQ(p.result.firstDamage, SREC_DAMAGE_CHECKSUM);
    EXPECT_EQ(p.image[0x20], 0x00);  // non-hex digits count as 0
    EXPECT_EQ(p.image[0x21], 0x01);
    EXPECT_EQ(p.image[0x0F], 0x00);
}

TEST(SRecordLines, SkippedLinesAndEmptyImages) {
    EXPECT_EQ(Parse("S00600004844521B\nS9030000FC\n").length, 0u);
    EXPECT_EQ(Parse("").length, 0u);
    // Other record types and plain text are skipped; a later record overwrites.
    Parsed p = Parse("hello\nS5030001FB\nS104000011EA\nS1040000229\r\nS70500000000FA\n");
    EXPECT_EQ(p.length, 1u);
    EXPECT_EQ(p.image[0], 0x22);
}

TEST(SRecordLines, RecordsWithoutData) {
    // Count A + 1: no data, but the end offset (its address) raises the length.
    EXPECT_EQ(Parse("S1030100FB\n").length, 0x100u);
    // Past the image, or a negative data count: the length stays.
    EXPECT_EQ(Parse("S1030010EC\nS3050FFFFFFFF0\n").length, 0x10u);
    EXPECT_EQ(Parse("S1030010EC\nS1010010EC\n").length, 0x10u);
}

TEST(SRecordLines, OutOfRangeOffsets) {
    // Top bit of an S3 address: a negative offset, reported as such.
    Parsed p = Parse("S30680000000AA00\n");
    EXPECT_EQ(p.result.status, SREC_OUT_OF_RANGE);
    EXPECT_EQ(p.result.value, static_cast<int32_t>(0x80000000));

    // Data running past the last offset: reported at 1,000,000, after the bytes
    // before it were placed; the length keeps its earlier value, later lines are not read.
    p = Parse("S10500000102F7\nS308000F423E11223300\nS10500100304E3\n");
    EXPECT_EQ(p.result.status, SREC_OUT_OF_RANGE);
    EXPECT_EQ(p.result.value, 1000000);
    EXPECT_EQ(p.image[999998], 0x11);
    EXPECT_EQ(p.image[999999], 0x22);
    EXPECT_EQ(p.length, 2u);
    EXPECT_EQ(p.image[0x10], 0x00);

    // The very last byte of the image is fine.
    p = Parse("S306000F423F5500\n");
    EXPECT_EQ(p.result.status, SREC_OK);
    EXPECT_EQ(p.length, 1000000u);
}

TEST(SRecordLines, TruncatedRecordsAreReportedWithTheirLine) {
    Parsed p = Parse("S003\nS1070010A1B2C3D400\nS1070020A1B2\n");
    EXPECT_EQ(p.result.status, SREC_TRUNCATED);
    EXPECT_EQ(p.result.value, 3);
    EXPECT_EQ(Parse("S003\r\nS2\r\n").result.status, SREC_TRUNCATED);
    // A missing record sum is damage, not truncation: --force still installs it.
    Parsed missingSum = Parse("S1050000AABB\n");
    EXPECT_EQ(missingSum.result.status, SREC_OK);
    EXPECT_EQ(missingSum.result.firstDamage, SREC_DAMAGE_CHECKSUM);
}

TEST(SRecordLines, DamageIsFoundInDataRecordsOnly) {
    // Good S1, S2 and S3 records (sums worked out by hand), a header with a
    // wrong sum and a text line: nothing damaged.
    Parsed good = Parse("S0030000FB\nS00300001C\nS10500000102F7\nS2060000100203E4\nS30800000020040506C8\nnote\n");
    EXPECT_EQ(good.result.damagedRecords, 0u);
    EXPECT_EQ(good.length, 0x23u);
    // A non-hex character anywhere from the count to the sum of a data record.
    for (const char* line : {"S1G500000102F7", "S10500X00102F7", "S105000001Q2F7", "S10500000102F?"}) {
        Parsed bad = Parse(std::string("S003\n") + line + "\n");
        EXPECT_EQ(bad.result.firstDamage, SREC_DAMAGE_CHARACTER) << line;
        EXPECT_EQ(bad.result.firstDamagedLine, 2) << line;
    }
    // Characters after the sum are not part of the record.
    EXPECT_EQ(Parse("S10500000102F7  ; end\n").result.damagedRecords, 0u);
}

TEST(SRecordLines, EveryLineEndingReadsTheSame) {
    std::string lf = ReadFile("s1_gaps.s");
    Parsed expected = Parse(lf);
    std::string cr = lf, crlf;
    for (char& c : cr)
        if (c == '\n') c = '\r';
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& text : {cr, crlf}) {
        Parsed p = Parse(text);
        EXPECT_EQ(p.result.status, SREC_OK);
        EXPECT_EQ(p.result.damagedRecords, 0u);
        ASSERT_EQ(p.length, expected.length);
        EXPECT_EQ(p.image, expected.image);
    }
}

TEST(SRecordLines, LinesLongerThan1024AreCutIntoPieces) {
    // 1024 characters of text, then a record on the same line: the piece after
    // the cut is a line of its own.
    std::string text = std::string(1024, 'x') + "S10400007A81\n";
    Parsed p = Parse(text);
    EXPECT_EQ(p.length, 1u);
    EXPECT_EQ(p.image[0], 0x7A);
}

TEST(SRecordStats, CountsTypes) {
    SRecordStats stats;
    Parse(ReadFile("s2_crlf.s"), &stats);
    EXPECT_EQ(stats.recordsByType[0], 1u);
    EXPECT_GT(stats.recordsByType[2], 0u);

    SRecordStats mixed;
    Parse("S003\nS1050000AABBFF\nnot a record\nS10500000102F7\n", &mixed);
    EXPECT_EQ(mixed.recordsByType[1], 2u);
    EXPECT_EQ(mixed.otherLines, 1u);
}

TEST(SRecordHelpers, HexDigitsAndLineTaking) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('g'), 0);
    char line[8];
    EXPECT_EQ(GetTextLine(line, 8, "ab\ncd", 5), 3);
    EXPECT_EQ(GetTextLine(line, 8, "cd", 2), 2);
    EXPECT_EQ(GetTextLine(line, 4, "abcdefg\n", 8), 4);
    EXPECT_EQ(GetTextLine(line, 8, "ab\rcd", 5), 3);
    EXPECT_EQ(GetTextLine(line, 8, "ab\r\ncd", 6), 4);
}

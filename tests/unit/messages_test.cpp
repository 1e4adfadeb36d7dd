#include <gtest/gtest.h>

#include <vector>

#include "link/messages.h"

using Bytes = std::vector<uint8_t>;

namespace {
struct Last : IFrameWriter {
    Bytes frame;
    void WriteFrameToPort(const uint8_t* data, int count) override { frame.assign(data, data + count); }
};

// Builds one message and returns its payload as the sender holds it.
template <typename F>
Bytes Payload(F build) {
    Last out;
    CFrameSender s(out);
    s.BeginMessage();
    build(s);
    return Bytes(s.Payload(), s.Payload() + s.PayloadLength());
}
}  // namespace

TEST(Messages, CommandPayloads) {
    EXPECT_EQ(Payload([](CFrameSender& s) { AppendSync(s); }), (Bytes{0x55, 0xAA}));
    EXPECT_EQ(Payload([](CFrameSender& s) { AppendSetProgramIndex(s, 0x12345); }),
              (Bytes{0xA0, 0x45, 0x23, 0x01, 0x00}));
    EXPECT_EQ(Payload([](CFrameSender& s) { AppendEraseSector(s, AREA_FIRMWARE, 6); }), (Bytes{0x84, 0x02, 0x06}));
    EXPECT_EQ(Payload([](CFrameSender& s) { AppendEraseSector(s, AREA_SCREENS, 0x101); }), (Bytes{0x84, 0x01, 0x01}));
}

TEST(Messages, ChecksumQueryAndValidDataRecord) {
    // Programming index 0x10000, 40961 image bytes, checksum 0x1234, tag 33.
    uint32_t end = EndIndexOf(0x10000, 40961);
    EXPECT_EQ(end, 0x15000u);
    EXPECT_EQ(EndIndexOf(0x10000, 40960), 0x14FFFu);
    EXPECT_EQ(Payload([&](CFrameSender& s) { AppendChecksumQuery(s, 0x10008, end, 0x1234); }),
              (Bytes{0x9C, 0x08, 0x00, 0x01, 0x00, 0x00, 0x50, 0x01, 0x00, 0x34, 0x12}));
    EXPECT_EQ(Payload([&](CFrameSender& s) { AppendValidData(s, 0x1234, 0x10008, end, 33); }),
              (Bytes{0x90, 0x12, 0x34, 0xED, 0xCB, 0x00, 0x01, 0x00, 0x08, 0x00, 0x01, 0x50, 0x00, 0x00, 0x00,
                     0x00, 0x21}));
}

TEST(Messages, ImageChecksum) {
    uint8_t image[21] = {};
    image[16] = 0x12;
    image[17] = 0x34;
    image[18] = 0x56;
    image[19] = 0x78;
    image[20] = 0xFF;  // no partner: not counted
    EXPECT_EQ(ComputeImageChecksum(image, 20, 16), 0x68ACu);
    EXPECT_EQ(ComputeImageChecksum(image, 21, 16), 0x68ACu);
    EXPECT_EQ(ComputeImageChecksum(image, 16, 16), 0u);
    image[0] = 0xFF;  // the first 16 bytes are left out
    EXPECT_EQ(ComputeImageChecksum(image, 20, 16), 0x68ACu);
}

TEST(Messages, MemoryIdReadings) {
    uint8_t record[20] = {0x82, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0C, 0x04, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    MemoryIdFirmware f = ReadFirmwareMemoryId(record);
    EXPECT_EQ(f.lastSector, 12);
    EXPECT_EQ(f.programIndex, 0x10000u);
    EXPECT_EQ(f.tagValue, 33u);  // an unset tag is sent as 33
    EXPECT_EQ(ReadScreensMemoryId(record), 4);
    record[16] = 0xFE;
    EXPECT_EQ(ReadFirmwareMemoryId(record).tagValue, 0xFFFFFFFEu);
    record[1] = 0xAA;  // bytes 1..9 mean nothing to the loader
    EXPECT_EQ(ReadFirmwareMemoryId(record).programIndex, 0x10000u);
}

#include "sim/keypad_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes ACK = {0xF0, 0x01, 0x06, 0x06};
const Bytes OK = {0xF0, 0x01, 0xE0, 0xE0};
const Bytes FAILED = {0xF0, 0x01, 0xE1, 0xE1};

// Sync frames with sequence numbers 0 to 3.
const Bytes SYNC[] = {{0xF0, 0x00, 0x02, 0x55, 0xAA, 0xFF},
                      {0xF0, 0x01, 0x02, 0x55, 0xAA, 0xFF},
                      {0xF0, 0x02, 0x02, 0x55, 0xAA, 0xFF},
                      {0xF0, 0x03, 0x02, 0x55, 0xAA, 0xFF}};

std::vector<KeypadReply> Feed(CKeypadModel& m, const Bytes& bytes) {
    std::vector<KeypadReply> out;
    m.Receive(bytes.data(), bytes.size(), out);
    return out;
}

// The one reply a frame is expected to get.
KeypadReply One(CKeypadModel& m, const Bytes& frame) {
    std::vector<KeypadReply> out = Feed(m, frame);
    EXPECT_EQ(out.size(), 1u);
    return out.empty() ? KeypadReply{{}, -1, -1} : out[0];
}

Bytes Reply(CKeypadModel& m, const Bytes& frame) { return One(m, frame).bytes; }

// A firmware area of one 64-byte sector (sector 6), programming index 0x10000.
KeypadConfig SmallKeypad() {
    KeypadConfig c;
    c.firmwareLastSector = 6;
    c.screensLastSector = 1;
    c.sectorSize = 64;
    return c;
}

// The 20-byte image 16 x 00, 12 34 56 78: end index 0x10009, checksum 0x68AC.
const Bytes TINY_IMAGE = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};

// Erases sector 6, sets the index and sends TINY_IMAGE, as frames 0 to 2.
void LoadImage(CKeypadModel& m) {
    EXPECT_EQ(Reply(m, {0xF0, 0x00, 0x03, 0x84, 0x02, 0x06, 0x8C}), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x01, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1}), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x02, 0x15, 0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0xA4}),
              OK);
}

const Bytes QUERY = {0xF0, 0x03, 0x0B, 0x9C, 0x08, 0x00, 0x01, 0x00, 0x09, 0x00, 0x01, 0x00, 0xAC, 0x68, 0xC3};
const Bytes SET_INDEX_AGAIN = {0xF0, 0x04, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1};
const Bytes RECORD = {0xF0, 0x05, 0x11, 0x90, 0x68, 0xAC, 0x97, 0x53, 0x00, 0x01, 0x00,
                      0x08, 0x00, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x21, 0xC2};

}  // namespace

TEST(KeypadModel, SyncAnsweredOnlyForWholeGoodFrames) {
    CKeypadModel m(KeypadConfig{});
    EXPECT_EQ(Reply(m, SYNC[0]), ACK);
    // Noise, a bad sum, and a frame cut short by a raw start byte: no reply.
    EXPECT_TRUE(Feed(m, {0x12, 0x34, 0xF0, 0x01, 0x02, 0x55, 0xAA, 0xFE}).empty());
    EXPECT_TRUE(Feed(m, {0xF0, 0x02, 0x02, 0x55}).empty());
    EXPECT_EQ(Reply(m, SYNC[3]), ACK);
    EXPECT_EQ(Reply(m, {0xF0, 0xF1, 0x0F, 0x02, 0x55, 0xAA, 0xFF}), ACK);  // sequence 0xF0
    // An unknown code, and a sync with the wrong second byte.
    EXPECT_EQ(Reply(m, {0xF0, 0x04, 0x01, 0x42, 0x42}), FAILED);
    EXPECT_EQ(Reply(m, {0xF0, 0x05, 0x02, 0x55, 0xAB, 0x00}), FAILED);
    EXPECT_EQ(m.FramesReceived(), 5);
    EXPECT_EQ(m.CommandCount(0x55), 4);
}

TEST(KeypadModel, MemoryIdRecordAndItsEscaping) {
    CKeypadModel m(KeypadConfig{});
    const Bytes record = {0xF0, 0x14, 0x82, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                          0x09, 0x03, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xB5};
    EXPECT_EQ(Reply(m, {0xF0, 0x00, 0x01, 0x88, 0x88}), record);
    EXPECT_EQ(Reply(m, {0xF0, 0x01, 0x01, 0x89, 0x89}), record);

    KeypadConfig c;
    c.programIndex = 0x0000F0F1;
    CKeypadModel e(c);
    EXPECT_EQ(Reply(e, {0xF0, 0x00, 0x01, 0x88, 0x88}),
              (Bytes{0xF0, 0x14, 0x82, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x09,
                     0x03, 0xF1, 0x0E, 0xF1, 0x0F, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x95}));
}

TEST(KeypadModel, FlashNeedsEraseBeforeWrite) {
    CKeypadModel m(SmallKeypad());
    const Bytes setIndex = {0xF0, 0x00, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1};
    EXPECT_EQ(Reply(m, setIndex), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x01, 0x03, 0x90, 0x12, 0x34, 0xD6}), FAILED);  // not erased

    EXPECT_EQ(Reply(m, {0xF0, 0x02, 0x03, 0x84, 0x02, 0x06, 0x8C}), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x03, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1}), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x04, 0x03, 0x90, 0x12, 0xF1, 0x0F, 0x92}), OK);  // 12 F0, escaped
    EXPECT_EQ(m.AreaContents(KEYPAD_AREA_FIRMWARE), (Bytes{0x12, 0xF0}));
    EXPECT_TRUE(m.AreaContents(KEYPAD_AREA_SCREENS).empty());

    // 0x13 over 0x12 would set a bit.
    EXPECT_EQ(Reply(m, {0xF0, 0x05, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1}), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x06, 0x03, 0x90, 0x13, 0x34, 0xD7}), FAILED);

    // Sector 7 lies past the firmware flash, area 3 does not exist, screens begin at 1.
    EXPECT_EQ(Reply(m, {0xF0, 0x07, 0x03, 0x84, 0x02, 0x07, 0x8D}), FAILED);
    EXPECT_EQ(Reply(m, {0xF0, 0x08, 0x03, 0x84, 0x03, 0x06, 0x8D}), FAILED);
    EXPECT_EQ(Reply(m, {0xF0, 0x09, 0x03, 0x84, 0x01, 0x00, 0x85}), FAILED);
    // Index 0x1000 is before the firmware flash and past the 64 screens bytes.
    EXPECT_EQ(Reply(m, {0xF0, 0x0A, 0x05, 0xA0, 0x00, 0x10, 0x00, 0x00, 0xB0}), FAILED);

    // Erasing again forgets what was written.
    EXPECT_EQ(Reply(m, {0xF0, 0x0B, 0x03, 0x84, 0x02, 0x06, 0x8C}), OK);
    EXPECT_TRUE(m.AreaContents(KEYPAD_AREA_FIRMWARE).empty());
}

TEST(KeypadModel, ResendIsAnsweredButNotWrittenTwice) {
    CKeypadModel m(SmallKeypad());
    EXPECT_EQ(Reply(m, {0xF0, 0x00, 0x03, 0x84, 0x02, 0x06, 0x8C}), OK);
    EXPECT_EQ(Reply(m, {0xF0, 0x01, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1}), OK);
    const Bytes chunk = {0xF0, 0x02, 0x03, 0x90, 0x12, 0x34, 0xD6};
    EXPECT_EQ(Reply(m, chunk), OK);
    EXPECT_EQ(Reply(m, chunk), OK);
    EXPECT_EQ(m.AreaContents(KEYPAD_AREA_FIRMWARE), (Bytes{0x12, 0x34}));
    EXPECT_EQ(m.CommandCount(0x90), 1);
    EXPECT_EQ(m.FramesReceived(), 4);

    // The same bytes under the next sequence number are a new chunk.
    EXPECT_EQ(Reply(m, {0xF0, 0x03, 0x03, 0x90, 0x12, 0x34, 0xD6}), OK);
    EXPECT_EQ(m.AreaContents(KEYPAD_AREA_FIRMWARE), (Bytes{0x12, 0x34, 0x12, 0x34}));
}

TEST(KeypadModel, ChecksumQueryRefusedThenAccepted) {
    CKeypadModel m(SmallKeypad());
    LoadImage(m);
    EXPECT_EQ(m.AreaContents(KEYPAD_AREA_FIRMWARE), TINY_IMAGE);
    // Checksum 0x68AD and end index 0x1000A are both wrong.
    EXPECT_EQ(Reply(m, {0xF0, 0x03, 0x0B, 0x9C, 0x08, 0x00, 0x01, 0x00, 0x09, 0x00, 0x01, 0x00, 0xAD, 0x68, 0xC4}),
              FAILED);
    EXPECT_EQ(Reply(m, {0xF0, 0x04, 0x0B, 0x9C, 0x08, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x01, 0x00, 0xAC, 0x68, 0xC4}),
              FAILED);
    Bytes query = QUERY;
    query[1] = 0x05;
    EXPECT_EQ(Reply(m, query), OK);
}

TEST(KeypadModel, ValidRecordAcceptedThenExecute) {
    CKeypadModel m(SmallKeypad());
    LoadImage(m);
    EXPECT_EQ(Reply(m, QUERY), OK);
    EXPECT_EQ(Reply(m, SET_INDEX_AGAIN), OK);
    EXPECT_EQ(Reply(m, RECORD), OK);
    EXPECT_EQ(m.ValidRecord(), Bytes(RECORD.begin() + 4, RECORD.end() - 1));
    EXPECT_EQ(m.AreaContents(KEYPAD_AREA_FIRMWARE), TINY_IMAGE);  // the record is not data
    EXPECT_FALSE(m.Executed());
    EXPECT_EQ(Reply(m, {0xF0, 0x06, 0x01, 0x77, 0x77}), OK);
    EXPECT_TRUE(m.Executed());

    KeypadConfig c = SmallKeypad();
    c.ackExecute = true;
    CKeypadModel a(c);
    EXPECT_EQ(Reply(a, {0xF0, 0x00, 0x01, 0x77, 0x77}), ACK);
}

TEST(KeypadModel, ValidRecordRefused) {
    // Without a checksum query first, the record is a chunk and hits programmed bytes.
    CKeypadModel data(SmallKeypad());
    LoadImage(data);
    EXPECT_EQ(Reply(data, SET_INDEX_AGAIN), OK);
    EXPECT_EQ(Reply(data, RECORD), FAILED);

    // Tag 0x22 where the keypad expects 33.
    CKeypadModel m(SmallKeypad());
    LoadImage(m);
    EXPECT_EQ(Reply(m, QUERY), OK);
    EXPECT_EQ(Reply(m, SET_INDEX_AGAIN), OK);
    Bytes record = RECORD;
    record[19] = 0x22;
    record[20] = 0xC3;
    EXPECT_EQ(Reply(m, record), FAILED);
    EXPECT_TRUE(m.ValidRecord().empty());
}

TEST(KeypadModel, DroppedRepliesKeepTheirNumberAndResendRecovers) {
    KeypadConfig c;
    c.dropFrom = 2;
    c.dropCount = 2;
    CKeypadModel m(c);
    EXPECT_EQ(Reply(m, SYNC[0]), ACK);
    EXPECT_TRUE(Feed(m, SYNC[1]).empty());
    EXPECT_TRUE(Feed(m, SYNC[1]).empty());
    EXPECT_EQ(Reply(m, SYNC[1]), ACK);  // the loader's third try
    EXPECT_EQ(m.RepliesSent(), 2);
    EXPECT_EQ(m.RepliesNumbered(), 4);
    EXPECT_EQ(m.CommandCount(0x55), 2);
}

TEST(KeypadModel, CorruptDuplicateAndSilentReplies) {
    KeypadConfig c;
    c.corruptReply = 1;
    c.duplicateReply = 2;
    c.silentAfter = 3;
    CKeypadModel m(c);
    EXPECT_EQ(Reply(m, SYNC[0]), (Bytes{0xF0, 0x01, 0x06, 0x07}));
    std::vector<KeypadReply> twice = Feed(m, SYNC[1]);
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0].bytes, ACK);
    EXPECT_EQ(twice[1].bytes, ACK);
    EXPECT_EQ(Reply(m, SYNC[2]), ACK);
    EXPECT_TRUE(Feed(m, SYNC[3]).empty());

    KeypadConfig s;
    s.silent = true;
    CKeypadModel quiet(s);
    EXPECT_TRUE(Feed(quiet, SYNC[0]).empty());
    EXPECT_EQ(quiet.FramesReceived(), 1);
}

TEST(KeypadModel, FailCommandHitsOnlyItsOccurrence) {
    KeypadConfig c = SmallKeypad();
    c.failCommand = 0x84;
    c.failOccurrence = 2;
    CKeypadModel m(c);
    const Bytes erase = {0xF0, 0x01, 0x03, 0x84, 0x02, 0x06, 0x8C};
    EXPECT_EQ(Reply(m, {0xF0, 0x00, 0x03, 0x84, 0x02, 0x06, 0x8C}), OK);
    EXPECT_EQ(Reply(m, erase), FAILED);
    EXPECT_EQ(Reply(m, erase), FAILED);  // a resend gets the same answer
    EXPECT_EQ(Reply(m, {0xF0, 0x02, 0x03, 0x84, 0x02, 0x06, 0x8C}), OK);
}

TEST(KeypadModel, DelaysAddWorkAndLineTime) {
    KeypadConfig c = SmallKeypad();
    c.baud = 115200;
    c.replyDelayMs = 5;
    c.eraseMsPerSector = 300;
    c.writeMsPerChunk = 2;
    CKeypadModel m(c);
    // 6 + 4 bytes, 100 bits: 868.06 us.
    KeypadReply r = One(m, SYNC[0]);
    EXPECT_EQ(r.delayUs, 5868);
    EXPECT_EQ(r.delayMs, 6);
    // 7 + 4 bytes, 110 bits: 954.86 us; a refused erase does no work.
    r = One(m, {0xF0, 0x01, 0x03, 0x84, 0x02, 0x06, 0x8C});
    EXPECT_EQ(r.delayUs, 305955);
    EXPECT_EQ(r.delayMs, 306);
    EXPECT_EQ(One(m, {0xF0, 0x02, 0x03, 0x84, 0x02, 0x07, 0x8D}).delayUs, 5955);
    // A 7-byte chunk and its reply: 11 bytes again, plus the write.
    EXPECT_EQ(Reply(m, {0xF0, 0x03, 0x05, 0xA0, 0x00, 0x00, 0x01, 0x00, 0xA1}), OK);
    r = One(m, {0xF0, 0x04, 0x03, 0x90, 0x12, 0x34, 0xD6});
    EXPECT_EQ(r.delayUs, 7955);
    EXPECT_EQ(r.delayMs, 8);
}

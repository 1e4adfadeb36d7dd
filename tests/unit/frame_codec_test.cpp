#include <gtest/gtest.h>

#include <vector>

#include "link/frame_codec.h"
#include "link/messages.h"

using Bytes = std::vector<uint8_t>;

namespace {

struct Recorder : IFrameWriter {
    std::vector<Bytes> frames;
    void WriteFrameToPort(const uint8_t* data, int count) override { frames.emplace_back(data, data + count); }
};

struct PayloadLog : IPayloadHandler {
    std::vector<Bytes> got;
    void DispatchReply(const uint8_t* payload, int length) override { got.emplace_back(payload, payload + length); }
};

void Send(CFrameSender& s, const Bytes& payload) {
    s.BeginMessage();
    for (uint8_t b : payload) s.AppendByte(b);
    s.SendNewFrame();
}

// Advances the sender so that its next frame carries `sequence`.
void SkipTo(CFrameSender& s, uint8_t sequence) {
    while (static_cast<uint8_t>(s.Sequence() + 1) != sequence) Send(s, {0x00});
}

}  // namespace

TEST(FrameSender, SyncFrameAndSequenceNumbers) {
    Recorder out;
    CFrameSender s(out);
    Send(s, {0x55, 0xAA});
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0x00, 0x02, 0x55, 0xAA, 0xFF}));

    SkipTo(s, 0xF0);
    Send(s, {0x55, 0xAA});
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0xF1, 0x0F, 0x02, 0x55, 0xAA, 0xFF}));
    Send(s, {0x55, 0xAA});
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0xF1, 0x0E, 0x02, 0x55, 0xAA, 0xFF}));

    SkipTo(s, 0xFF);
    Send(s, {0x77});
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0xFF, 0x01, 0x77, 0x77}));
    Send(s, {0x77});  // the 257th frame wraps to 0
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0x00, 0x01, 0x77, 0x77}));
}

TEST(FrameSender, EscapesPayloadAndSum) {
    Recorder out;
    CFrameSender s(out);
    // Sum 0xF0: the sum goes escaped too.
    Send(s, {0xF0});
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0x00, 0x01, 0xF1, 0x0F, 0xF1, 0x0F}));
    Send(s, {0x70, 0x81});  // sum 0xF1
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0x01, 0x02, 0x70, 0x81, 0xF1, 0x0E}));
    Send(s, {0xF1, 0x00, 0x01});  // sum 0xF2, no escape
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0x02, 0x03, 0xF1, 0x0E, 0x00, 0x01, 0xF2}));
}

TEST(FrameSender, ResendRepeatsTheFrameAndEmptyPayloadSendsNothing) {
    Recorder out;
    CFrameSender s(out);
    Send(s, {0x88});
    s.ResendFrame();
    ASSERT_EQ(out.frames.size(), 2u);
    EXPECT_EQ(out.frames[0], out.frames[1]);
    EXPECT_EQ(out.frames[1], (Bytes{0xF0, 0x00, 0x01, 0x88, 0x88}));

    s.BeginMessage();
    EXPECT_EQ(s.SendNewFrame(), 0);
    EXPECT_EQ(out.frames.size(), 2u);
    Send(s, {0x89});  // the sequence did not move for the empty one
    EXPECT_EQ(out.frames.back(), (Bytes{0xF0, 0x01, 0x01, 0x89, 0x89}));
}

TEST(FrameSender, LongestFramesFitTheBuffer) {
    Recorder out;
    CFrameSender s(out);
    SkipTo(s, 0xF0);
    // The longest frame the loader sends: a chunk of 124 bytes that all need escaping.
    Bytes chunk = {0x90};
    chunk.insert(chunk.end(), 92, 0xF0);
    chunk.insert(chunk.end(), 32, 0xF1);  // sum 0x90 + 92 * 0xF0 + 32 * 0xF1 = 0xF0 (mod 256)
    Send(s, chunk);
    EXPECT_EQ(out.frames.back().size(), 1u + 2 + 1 + 1 + 248 + 2);
    EXPECT_EQ(out.frames.back().back(), 0x0F);

    // A 255-byte payload of escapes, the worst case the format allows, fits
    // too; a 256th byte is refused rather than wrapping the length.
    Send(s, Bytes(256, 0xF0));
    EXPECT_EQ(s.PayloadLength(), 255);
    EXPECT_EQ(out.frames.back().size(), 1u + 2 + 1 + 510 + 1);
    EXPECT_LE(out.frames.back().size(), static_cast<size_t>(FRAME_TRANSMIT_MAX));
    EXPECT_EQ(out.frames.back()[3], 0xFF);  // length 255, unescaped
}

// The same byte stream must give the same payloads whole, byte by byte and
// split at every offset.
class ParserStream : public ::testing::Test {
protected:
    static std::vector<Bytes> FeedSplit(const Bytes& stream, size_t split) {
        PayloadLog p;
        CFrameParser parser(p);
        parser.FeedBytes(stream.data(), static_cast<int>(split));
        parser.FeedBytes(stream.data() + split, static_cast<int>(stream.size() - split));
        return p.got;
    }
    static void ExpectAllSplits(const Bytes& stream, const std::vector<Bytes>& expected) {
        for (size_t split = 0; split <= stream.size(); ++split)
            ASSERT_EQ(FeedSplit(stream, split), expected) << "split at " << split;
        PayloadLog p;
        CFrameParser parser(p);
        for (uint8_t b : stream) parser.FeedByte(b);
        EXPECT_EQ(p.got, expected);
    }
};

TEST_F(ParserStream, FramesWithNoiseBadSumsAndCutOffs) {
    Bytes stream = {
        0x13, 0x37, 0x00,                    // noise before a frame
        0xF0, 0x01, 0x06, 0x06,              // ACK
        0x99,                                // noise between frames
        0xF0, 0x01, 0xE0, 0xE1,              // OK with a bad sum: dropped
        0xF0, 0x01, 0xE0, 0xE0,              // OK
        0xF0, 0x02, 0x82,                    // cut off by the next start
        0xF0, 0x03, 0xF1, 0x0F, 0x00, 0x07, 0xF7,  // escaped payload byte, zero byte
        0xF0, 0x01, 0xE1, 0xE1,              // FAILED
    };
    ExpectAllSplits(stream, {{0x06}, {0xE0}, {0xF0, 0x00, 0x07}, {0xE1}});
}

TEST_F(ParserStream, EscapedLengthAndLengthZero) {
    Bytes stream = {0xF0, 0xF1, 0x0F};  // length 0xF0 = 240, sent escaped
    uint8_t sum = 0;
    for (int i = 0; i < 240; ++i) {
        stream.push_back(static_cast<uint8_t>(i % 0xE0));
        sum = static_cast<uint8_t>(sum + i % 0xE0);
    }
    if (sum >= 0xF0) stream.insert(stream.end(), {0xF1, static_cast<uint8_t>(~sum)});
    else stream.push_back(sum);
    Bytes expected240(stream.begin() + 3, stream.begin() + 243);

    Bytes zero = {0xF0, 0x00};  // length 0: 256 payload bytes
    for (int i = 0; i < 256; ++i) zero.push_back(0x01);
    zero.push_back(0x00);  // 256 * 1 = 0 mod 256
    stream.insert(stream.end(), zero.begin(), zero.end());
    ExpectAllSplits(stream, {expected240, Bytes(256, 0x01)});
}

TEST(FrameParser, EscapeAndResynchronisationRules) {
    PayloadLog p;
    CFrameParser parser(p);
    // Two escapes then 0x0F stand for one 0xF0, here the payload.
    parser.FeedBytes(Bytes{0xF0, 0x01, 0xF1, 0xF1, 0x0F, 0xF1, 0x0F}.data(), 7);
    ASSERT_EQ(p.got.size(), 1u);
    EXPECT_EQ(p.got[0], Bytes{0xF0});
    EXPECT_EQ(parser.State(), PARSE_DONE);

    // After a delivered frame an escaped 0xF0 does not start a frame...
    parser.FeedBytes(Bytes{0xF1, 0x0F, 0x01, 0x06, 0x06}.data(), 5);
    EXPECT_EQ(p.got.size(), 1u);
    // ...but after a bad sum it does.
    parser.FeedBytes(Bytes{0xF0, 0x01, 0x06, 0x07, 0xF1, 0x0F, 0x01, 0x06, 0x06}.data(), 9);
    ASSERT_EQ(p.got.size(), 2u);
    EXPECT_EQ(p.got[1], Bytes{0x06});

    // An escape right before a raw start applies to the length.
    parser.FeedBytes(Bytes{0xF1, 0xF0, 0xFE, 0x06, 0x06}.data(), 5);  // ~0xFE = 0x01
    ASSERT_EQ(p.got.size(), 3u);
    EXPECT_EQ(p.got[2], Bytes{0x06});
}

TEST(FrameParser, ReceiveBufferKeepsOlderBytes) {
    PayloadLog p;
    CFrameParser parser(p);
    Bytes memId = {0xF0, 0x03, 0x82, 0x11, 0x22, 0xB5};
    parser.FeedBytes(memId.data(), static_cast<int>(memId.size()));
    Bytes ack = {0xF0, 0x01, 0x06, 0x06};
    parser.FeedBytes(ack.data(), 4);
    EXPECT_EQ(parser.ReceiveBuffer()[0], 0x06);
    EXPECT_EQ(parser.ReceiveBuffer()[2], 0x22);
}

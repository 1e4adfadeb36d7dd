#pragma once
#include <cstdint>

// Control bytes of the wire framing.
constexpr uint8_t FRAME_START = 0xF0;
constexpr uint8_t FRAME_ESCAPE = 0xF1;

// Largest payload a frame can carry, and the largest frame such a payload can
// become on the line: every byte after the start escaped (1 + 2 * (seq + len +
// 255 payload + sum)).
constexpr int FRAME_PAYLOAD_MAX = 255;
constexpr int FRAME_TRANSMIT_MAX = 1 + 2 * (FRAME_PAYLOAD_MAX + 3);

// Where the sender's finished frames go: one call per frame.
class IFrameWriter {
public:
    virtual ~IFrameWriter() = default;
    virtual void WriteFrameToPort(const uint8_t* data, int count) = 0;
};

// Builds, escapes and writes frames from the loader to the keypad. Keeps the
// last payload so a time-out can repeat the very same frame.
class CFrameSender {
public:
    explicit CFrameSender(IFrameWriter& writer) : m_writer(writer) {}

    void BeginMessage() { m_payloadLength = 0; }
    // A 256th byte would wrap the 8-bit length and corrupt the frame: refused.
    void AppendByte(uint8_t value);
    // Takes the next sequence number and writes the frame. Returns 0 (and sends
    // nothing, changes nothing) when the payload is empty.
    int SendNewFrame();
    // Writes the last payload again with the current sequence number.
    void ResendFrame();
    // Clears what the window clears on initialisation; the sequence runs on.
    void Reset() { m_payloadLength = 0; m_transmitCount = 0; }

    uint8_t Sequence() const { return m_sequence; }
    int PayloadLength() const { return m_payloadLength; }
    const uint8_t* Payload() const { return m_payload; }
    const uint8_t* TransmitBuffer() const { return m_transmit; }
    int TransmitCount() const { return m_transmitCount; }

private:
    void EncodeAndWrite();
    void PutEscaped(uint8_t value);

    IFrameWriter& m_writer;
    uint8_t m_payload[256] = {};
    int m_payloadLength = 0;
    uint8_t m_sequence = 0xFF;  // so the first frame carries 0x00
    uint8_t m_transmit[FRAME_TRANSMIT_MAX] = {};
    int m_transmitCount = 0;
};

enum ParseState { PARSE_WAIT_START, PARSE_LENGTH, PARSE_PAYLOAD, PARSE_CHECKSUM, PARSE_DONE };

// Receives each complete payload whose sum is right. A length byte of 0 is
// delivered as 256.
class IPayloadHandler {
public:
    virtual ~IPayloadHandler() = default;
    virtual void DispatchReply(const uint8_t* payload, int length) = 0;
};

// Finds frames from the keypad (no sequence number) in a byte stream.
class CFrameParser {
public:
    explicit CFrameParser(IPayloadHandler& handler) : m_handler(handler) {}

    void FeedByte(uint8_t value);
    void FeedBytes(const uint8_t* data, int count) {
        for (int i = 0; i < count; ++i) FeedByte(data[i]);
    }

    ParseState State() const { return m_state; }
    // Bytes past the last frame's length keep what earlier frames left.
    const uint8_t* ReceiveBuffer() const { return m_receive; }

private:
    IPayloadHandler& m_handler;
    ParseState m_state = PARSE_WAIT_START;
    bool m_escapePending = false;
    uint8_t m_expectedLength = 0;
    uint8_t m_receivedCount = 0;
    uint8_t m_runningSum = 0;
    uint8_t m_receive[256] = {};
};

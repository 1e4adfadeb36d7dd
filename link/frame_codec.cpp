#include "frame_codec.h"

void CFrameSender::AppendByte(uint8_t value) {
    if (m_payloadLength >= FRAME_PAYLOAD_MAX) return;
    m_payload[m_payloadLength++] = value;
}

int CFrameSender::SendNewFrame() {
    if (m_payloadLength == 0) return 0;
    ++m_sequence;
    EncodeAndWrite();
    return 1;
}

void CFrameSender::ResendFrame() { EncodeAndWrite(); }

void CFrameSender::PutEscaped(uint8_t value) {
    if (value == FRAME_START || value == FRAME_ESCAPE) {
        m_transmit[m_transmitCount++] = FRAME_ESCAPE;
        m_transmit[m_transmitCount++] = value ^ 0xFF;
    } else {
        m_transmit[m_transmitCount++] = value;
    }
}

void CFrameSender::EncodeAndWrite() {
    m_transmit[0] = FRAME_START;
    m_transmitCount = 1;
    PutEscaped(m_sequence);
    PutEscaped(static_cast<uint8_t>(m_payloadLength));
    uint8_t sum = 0;
    for (int i = 0; i < m_payloadLength; ++i) {
        PutEscaped(m_payload[i]);
        sum = static_cast<uint8_t>(sum + m_payload[i]);
    }
    PutEscaped(sum);
    m_writer.WriteFrameToPort(m_transmit, m_transmitCount);
}

void CFrameParser::FeedByte(uint8_t value) {
    if (value == FRAME_START) {
        // A raw start byte resynchronises whatever came before.
        m_state = PARSE_WAIT_START;
    } else if (value == FRAME_ESCAPE) {
        m_escapePending = true;
        return;
    } else if (m_escapePending) {
        value ^= 0xFF;
        m_escapePending = false;
    }

    switch (m_state) {
    case PARSE_WAIT_START:
        if (value == FRAME_START) m_state = PARSE_LENGTH;
        break;
    case PARSE_LENGTH:
        m_expectedLength = value;
        m_receivedCount = 0;
        m_runningSum = 0;
        m_state = PARSE_PAYLOAD;
        break;
    case PARSE_PAYLOAD:
        m_receive[m_receivedCount++] = value;
        m_runningSum = static_cast<uint8_t>(m_runningSum + value);
        if (m_receivedCount == m_expectedLength) m_state = PARSE_CHECKSUM;
        break;
    case PARSE_CHECKSUM:
        if (value == m_runningSum) {
            m_handler.DispatchReply(m_receive, m_expectedLength == 0 ? 256 : m_expectedLength);
            m_state = PARSE_DONE;
        } else {
            m_state = PARSE_WAIT_START;
        }
        break;
    case PARSE_DONE:
        break;
    }
}

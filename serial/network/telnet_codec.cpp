#include "telnet_codec.h"

void TelnetAppendData(std::vector<uint8_t>& out, const uint8_t* data, int count) {
    for (int i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == TELNET_IAC) out.push_back(TELNET_IAC);
    }
}

void TelnetAppendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
    out.insert(out.end(), {TELNET_IAC, verb, option});
}

void TelnetAppendSubnegotiation(std::vector<uint8_t>& out, uint8_t option, const uint8_t* body, int count) {
    out.insert(out.end(), {TELNET_IAC, TELNET_SB, option});
    TelnetAppendData(out, body, count);
    out.insert(out.end(), {TELNET_IAC, TELNET_SE});
}

void CTelnetDecoder::Feed(const uint8_t* bytes, int count, std::vector<uint8_t>& data, ITelnetCommands& commands) {
    for (int i = 0; i < count; ++i) {
        uint8_t byte = bytes[i];
        switch (m_state) {
        case TD_DATA:
            if (byte == TELNET_IAC) m_state = TD_IAC;
            else data.push_back(byte);
            break;
        case TD_IAC:
            if (byte == TELNET_IAC) {
                data.push_back(byte);
                m_state = TD_DATA;
            } else {
                Command(byte);
            }
            break;
        case TD_OPTION:
            commands.OnTelnetOption(m_verb, byte);
            m_state = TD_DATA;
            break;
        case TD_SB:
            if (byte == TELNET_IAC) m_state = TD_SB_IAC;
            else if (m_bodyLength < MAX_SUBNEGOTIATION) m_body[m_bodyLength++] = byte;
            break;
        case TD_SB_IAC:
            if (byte == TELNET_IAC) {
                if (m_bodyLength < MAX_SUBNEGOTIATION) m_body[m_bodyLength++] = byte;
                m_state = TD_SB;
            } else if (byte == TELNET_SE) {
                commands.OnTelnetSubnegotiation(m_body, m_bodyLength);
                m_state = TD_DATA;
            } else {
                // A server that forgot IAC SE: the body is dropped, the command counts.
                Command(byte);
            }
            break;
        }
    }
}

void CTelnetDecoder::Command(uint8_t byte) {
    if (byte >= TELNET_WILL) {
        m_verb = byte;
        m_state = TD_OPTION;
    } else if (byte == TELNET_SB) {
        m_bodyLength = 0;
        m_state = TD_SB;
    } else {
        m_state = TD_DATA;
    }
}

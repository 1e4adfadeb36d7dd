#include "com_port_session.h"

namespace {

constexpr unsigned ALL_SETTINGS_CONFIRMED = 0x1F;  // commands 1 to 5

void AppendCommand(std::vector<uint8_t>& out, uint8_t command, std::initializer_list<uint8_t> value) {
    uint8_t body[8] = {command};
    int count = 1;
    for (uint8_t byte : value) body[count++] = byte;
    TelnetAppendSubnegotiation(out, TELNET_OPT_COM_PORT, body, count);
}

// Binary mode keeps a Telnet server from treating CR and NUL in the frames as text.
bool WeDo(uint8_t option) {
    return option == TELNET_OPT_BINARY || option == TELNET_OPT_SGA || option == TELNET_OPT_COM_PORT;
}
bool TheyMayDo(uint8_t option) { return option == TELNET_OPT_BINARY || option == TELNET_OPT_SGA; }

}  // namespace

void CComPortSession::Start(std::vector<uint8_t>& out) {
    TelnetAppendOption(out, TELNET_WILL, TELNET_OPT_COM_PORT);
    TelnetAppendOption(out, TELNET_WILL, TELNET_OPT_BINARY);
    TelnetAppendOption(out, TELNET_DO, TELNET_OPT_BINARY);
    m_local[TELNET_OPT_COM_PORT] = OPTION_ASKED;
    m_local[TELNET_OPT_BINARY] = OPTION_ASKED;
    m_remote[TELNET_OPT_BINARY] = OPTION_ASKED;
}

void CComPortSession::Receive(const uint8_t* bytes, int count, std::vector<uint8_t>& data, std::vector<uint8_t>& out) {
    m_out = &out;
    m_decoder.Feed(bytes, count, data, *this);
    m_out = nullptr;
}

void CComPortSession::EncodeData(const uint8_t* data, int count, std::vector<uint8_t>& out) {
    TelnetAppendData(out, data, count);
}

void CComPortSession::EncodeBreak(bool on, std::vector<uint8_t>& out) {
    AppendCommand(out, COM_PORT_SET_CONTROL, {on ? COM_PORT_CONTROL_BREAK_ON : COM_PORT_CONTROL_BREAK_OFF});
}

// Answers follow the rule that keeps two Telnet ends from looping: say
// something only when the option's state changes and the change was not
// asked for by us.
void CComPortSession::OnTelnetOption(uint8_t verb, uint8_t option) {
    switch (verb) {
    case TELNET_DO:
        if (TurnOn(m_local[option], WeDo(option), TELNET_WILL, TELNET_WONT, option) && option == TELNET_OPT_COM_PORT)
            SendLineSettings();
        break;
    case TELNET_DONT:
        TurnOff(m_local[option], TELNET_WONT, option);
        if (option == TELNET_OPT_COM_PORT) m_state = COM_PORT_REFUSED;
        break;
    case TELNET_WILL:
        TurnOn(m_remote[option], TheyMayDo(option), TELNET_DO, TELNET_DONT, option);
        break;
    case TELNET_WONT:
        TurnOff(m_remote[option], TELNET_DONT, option);
        break;
    }
}

bool CComPortSession::TurnOn(OptionState& state, bool wanted, uint8_t agree, uint8_t refuse, uint8_t option) {
    if (!wanted) {
        TelnetAppendOption(*m_out, refuse, option);
        return false;
    }
    if (state == OPTION_ON) return false;
    if (state == OPTION_OFF) TelnetAppendOption(*m_out, agree, option);
    state = OPTION_ON;
    return true;
}

void CComPortSession::TurnOff(OptionState& state, uint8_t confirm, uint8_t option) {
    if (state == OPTION_ON) TelnetAppendOption(*m_out, confirm, option);
    state = OPTION_OFF;
}

void CComPortSession::OnTelnetSubnegotiation(const uint8_t* body, int count) {
    if (count < 2 || body[0] != TELNET_OPT_COM_PORT) return;
    int command = body[1] - COM_PORT_SERVER_OFFSET;
    // The confirmations of the line settings; line and modem state, flow
    // control notices and the signature are not needed.
    if (command < COM_PORT_SET_BAUDRATE || command > COM_PORT_SET_CONTROL || m_state != COM_PORT_NEGOTIATING) return;
    if (command == COM_PORT_SET_BAUDRATE && count >= 6)
        m_baud = uint32_t(body[2]) << 24 | uint32_t(body[3]) << 16 | uint32_t(body[4]) << 8 | body[5];
    else if (command != COM_PORT_SET_BAUDRATE && count >= 3)
        m_setting[command] = body[2];
    m_confirmed |= 1u << (command - 1);
    CheckReady();
}

void CComPortSession::SendLineSettings() {
    std::vector<uint8_t>& out = *m_out;
    const uint32_t baud = COM_PORT_KEYPAD_BAUD;
    AppendCommand(out, COM_PORT_SET_BAUDRATE, {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                                               static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)});
    AppendCommand(out, COM_PORT_SET_DATASIZE, {8});
    AppendCommand(out, COM_PORT_SET_PARITY, {COM_PORT_PARITY_NONE});
    AppendCommand(out, COM_PORT_SET_STOPSIZE, {COM_PORT_STOPSIZE_1});
    AppendCommand(out, COM_PORT_SET_CONTROL, {COM_PORT_CONTROL_NO_FLOW});
}

// A line the server set otherwise would garble every frame: refused, not used.
void CComPortSession::CheckReady() {
    if (m_state != COM_PORT_NEGOTIATING || m_local[TELNET_OPT_COM_PORT] != OPTION_ON ||
        m_confirmed != ALL_SETTINGS_CONFIRMED)
        return;
    bool keypadLine = m_baud == COM_PORT_KEYPAD_BAUD && m_setting[COM_PORT_SET_DATASIZE] == 8 &&
                      m_setting[COM_PORT_SET_PARITY] == COM_PORT_PARITY_NONE &&
                      m_setting[COM_PORT_SET_STOPSIZE] == COM_PORT_STOPSIZE_1 &&
                      m_setting[COM_PORT_SET_CONTROL] == COM_PORT_CONTROL_NO_FLOW;
    m_state = keypadLine ? COM_PORT_READY : COM_PORT_WRONG_LINE;
}

std::string CComPortSession::WrongLineText() const {
    static const char PARITY[] = "?NOEMS";  // RFC 2217's parity values 1 to 5
    static const char* const STOP[] = {"?", "1", "2", "1.5"};
    uint8_t parity = m_setting[COM_PORT_SET_PARITY], stop = m_setting[COM_PORT_SET_STOPSIZE];
    std::string text = "the server set " + std::to_string(m_baud) + " " +
                       std::to_string(m_setting[COM_PORT_SET_DATASIZE]) + (parity <= 5 ? PARITY[parity] : '?') +
                       (stop <= 3 ? STOP[stop] : "?");
    switch (m_setting[COM_PORT_SET_CONTROL]) {
    case COM_PORT_CONTROL_NO_FLOW:
        break;
    case 2:
        text += " with XON/XOFF flow control";
        break;
    case 3:
        text += " with hardware flow control";
        break;
    default:
        text += " with flow control " + std::to_string(m_setting[COM_PORT_SET_CONTROL]);
    }
    return text + ", not 115200 8N1";
}

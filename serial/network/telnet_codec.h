#pragma once
#include <cstdint>
#include <vector>

// Telnet as a serial device server speaks it: data with 0xFF (IAC) doubled,
// option negotiation, and subnegotiations. Plain C++, no toolkit.

constexpr uint8_t TELNET_SE = 240;
constexpr uint8_t TELNET_SB = 250;
constexpr uint8_t TELNET_WILL = 251;
constexpr uint8_t TELNET_WONT = 252;
constexpr uint8_t TELNET_DO = 253;
constexpr uint8_t TELNET_DONT = 254;
constexpr uint8_t TELNET_IAC = 255;

constexpr uint8_t TELNET_OPT_BINARY = 0;
constexpr uint8_t TELNET_OPT_SGA = 3;
constexpr uint8_t TELNET_OPT_COM_PORT = 44;

// Data bytes as they go on the wire: every 0xFF doubled.
void TelnetAppendData(std::vector<uint8_t>& out, const uint8_t* data, int count);
// IAC verb option.
void TelnetAppendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
// IAC SB option body IAC SE, 0xFF in the body doubled.
void TelnetAppendSubnegotiation(std::vector<uint8_t>& out, uint8_t option, const uint8_t* body, int count);

// What the decoder found besides data.
class ITelnetCommands {
public:
    virtual ~ITelnetCommands() = default;
    // WILL, WONT, DO or DONT for an option.
    virtual void OnTelnetOption(uint8_t verb, uint8_t option) = 0;
    // The bytes between IAC SB and IAC SE, unescaped (the option first).
    virtual void OnTelnetSubnegotiation(const uint8_t* body, int count) = 0;
};

// Splits what the server sends into data and commands. A command may end in
// a later read: the decoder keeps its place between calls. Commands without
// an option (NOP, GA, ...) are dropped.
class CTelnetDecoder {
public:
    static constexpr int MAX_SUBNEGOTIATION = 64;  // longer bodies are cut (only their head matters)

    void Feed(const uint8_t* bytes, int count, std::vector<uint8_t>& data, ITelnetCommands& commands);

private:
    enum State { TD_DATA, TD_IAC, TD_OPTION, TD_SB, TD_SB_IAC };
    void Command(uint8_t byte);

    State m_state = TD_DATA;
    uint8_t m_verb = 0;
    uint8_t m_body[MAX_SUBNEGOTIATION] = {};
    int m_bodyLength = 0;
};

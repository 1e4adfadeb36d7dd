#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "telnet_codec.h"

// Serial port control over Telnet (RFC 2217) from the client's side: offers
// the option and binary mode, sets the keypad's line (115200 baud, 8 data
// bits, no parity, 1 stop bit, no flow control) once the server agrees, and
// counts the session ready when the server has confirmed all five. Line and
// modem state reports and every other option are declined or ignored.
// Plain C++: bytes in, bytes out.

// The option's commands as the client sends them; the server answers command N as N + 100.
enum ComPortCommand : uint8_t {
    COM_PORT_SET_BAUDRATE = 1,
    COM_PORT_SET_DATASIZE,
    COM_PORT_SET_PARITY,
    COM_PORT_SET_STOPSIZE,
    COM_PORT_SET_CONTROL,
    COM_PORT_SERVER_OFFSET = 100
};
// The values the loader sends with them.
enum ComPortValue : uint8_t {
    COM_PORT_PARITY_NONE = 1,
    COM_PORT_STOPSIZE_1 = 1,
    COM_PORT_CONTROL_NO_FLOW = 1,
    COM_PORT_CONTROL_BREAK_ON = 5,
    COM_PORT_CONTROL_BREAK_OFF = 6
};

constexpr uint32_t COM_PORT_KEYPAD_BAUD = 115200;

// COM_PORT_WRONG_LINE: the server confirmed other line settings than the keypad's.
enum ComPortState { COM_PORT_NEGOTIATING, COM_PORT_READY, COM_PORT_REFUSED, COM_PORT_WRONG_LINE };

class CComPortSession : private ITelnetCommands {
public:
    // The opening offers.
    void Start(std::vector<uint8_t>& out);
    // What the server sent: data appended to `data`, answers to send to `out`.
    void Receive(const uint8_t* bytes, int count, std::vector<uint8_t>& data, std::vector<uint8_t>& out);
    ComPortState State() const { return m_state; }
    // In COM_PORT_WRONG_LINE: "the server set 9600 7E1, not 115200 8N1".
    std::string WrongLineText() const;

    // A frame for the wire.
    static void EncodeData(const uint8_t* data, int count, std::vector<uint8_t>& out);
    static void EncodeBreak(bool on, std::vector<uint8_t>& out);

private:
    // Where each side stands on an option.
    enum OptionState : uint8_t { OPTION_OFF, OPTION_ASKED, OPTION_ON };

    void OnTelnetOption(uint8_t verb, uint8_t option) override;
    void OnTelnetSubnegotiation(const uint8_t* body, int count) override;
    // The server asks an option on (DO, WILL) or off (DONT, WONT); true when it has just come on.
    bool TurnOn(OptionState& state, bool wanted, uint8_t agree, uint8_t refuse, uint8_t option);
    void TurnOff(OptionState& state, uint8_t confirm, uint8_t option);
    void SendLineSettings();
    void CheckReady();

    CTelnetDecoder m_decoder;
    std::vector<uint8_t>* m_out = nullptr;      // the answers of the Receive under way
    std::array<OptionState, 256> m_local{};     // options we do (DO / DONT from the server)
    std::array<OptionState, 256> m_remote{};    // options the server does (WILL / WONT)
    unsigned m_confirmed = 0;                   // bit N-1: command N confirmed
    uint32_t m_baud = 0;                        // the values confirmed
    std::array<uint8_t, COM_PORT_SET_CONTROL + 1> m_setting{};  // by command: data size, parity, ...
    ComPortState m_state = COM_PORT_NEGOTIATING;
};

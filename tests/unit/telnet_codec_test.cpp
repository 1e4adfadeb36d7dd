// Telnet and serial port control (RFC 2217) against byte sequences written out
// by hand, the server's side as a serial device server sends it.
#include <gtest/gtest.h>

#include <vector>

#include "serial/network/com_port_session.h"
#include "serial/network/telnet_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder : ITelnetCommands {
    std::vector<std::pair<int, int>> options;
    std::vector<Bytes> subnegotiations;
    void OnTelnetOption(uint8_t verb, uint8_t option) override { options.emplace_back(verb, option); }
    void OnTelnetSubnegotiation(const uint8_t* body, int count) override {
        subnegotiations.emplace_back(body, body + count);
    }
};

// Data, a doubled IAC, an option, a NOP, a subnegotiation with a doubled IAC
// inside, an over-long subnegotiation, then more data.
const Bytes SERVER_STREAM = [] {
    Bytes s = {'A', 0xFF, 0xFF, 'B', 0xFF, 0xFB, 0x03, 0xFF, 0xF1, 'C', 0xFF, 0xFA, 0x2C, 0x6A, 0xFF, 0xFF, 0xFF, 0xF0};
    s.insert(s.end(), {0xFF, 0xFA, 0x2C, 0x6C});
    s.insert(s.end(), 100, 'x');
    s.insert(s.end(), {0xFF, 0xF0, 'D', 0x0D, 0x00, 0xFF, 0xFD, 0x2C});
    return s;
}();

TEST(TelnetDecoder, GivesTheSameWholeByteByByteAndSplitAnywhere) {
    const Bytes expectedData = {'A', 0xFF, 'B', 'C', 'D', 0x0D, 0x00};
    for (size_t split = 0; split <= SERVER_STREAM.size(); ++split) {
        CTelnetDecoder decoder;
        Recorder recorder;
        Bytes data;
        decoder.Feed(SERVER_STREAM.data(), static_cast<int>(split), data, recorder);
        decoder.Feed(SERVER_STREAM.data() + split, static_cast<int>(SERVER_STREAM.size() - split), data, recorder);
        EXPECT_EQ(data, expectedData) << "split at " << split;
        ASSERT_EQ(recorder.options, (std::vector<std::pair<int, int>>{{0xFB, 0x03}, {0xFD, 0x2C}})) << split;
        ASSERT_EQ(recorder.subnegotiations.size(), 2u) << split;
        EXPECT_EQ(recorder.subnegotiations[0], (Bytes{0x2C, 0x6A, 0xFF}));
        EXPECT_EQ(recorder.subnegotiations[1].size(), size_t(CTelnetDecoder::MAX_SUBNEGOTIATION));
    }
    CTelnetDecoder decoder;
    Recorder recorder;
    Bytes data;
    for (uint8_t byte : SERVER_STREAM) decoder.Feed(&byte, 1, data, recorder);
    EXPECT_EQ(data, expectedData);
    EXPECT_EQ(recorder.subnegotiations.size(), 2u);
}

TEST(TelnetEncoder, DoublesEveryIacInDataAndInCommands) {
    const Bytes frame = {0xF0, 0xFF, 0x01, 0xFF, 0xFF};
    Bytes out;
    CComPortSession::EncodeData(frame.data(), static_cast<int>(frame.size()), out);
    EXPECT_EQ(out, (Bytes{0xF0, 0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF}));

    out.clear();
    const uint8_t baud[] = {0x01, 0x00, 0x00, 0xFF, 0xFF};  // SET-BAUDRATE 65535
    TelnetAppendSubnegotiation(out, 0x2C, baud, 5);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}));

    out.clear();
    CComPortSession::EncodeBreak(true, out);
    CComPortSession::EncodeBreak(false, out);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0x05, 0x05, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x05, 0x06, 0xFF, 0xF0}));
}

// The server greets with its own offers (SGA both ways, ECHO, BINARY both
// ways, DO COM-PORT-OPTION), then reports the modem state and confirms the
// line settings; a keypad reply follows.
const Bytes GREETING = {0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x01, 0xFF, 0xFE,
                        0x01, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x2C};
const Bytes CONFIRMATIONS = {0xFF, 0xFA, 0x2C, 0x6B, 0x00, 0xFF, 0xF0,                          // modem state
                             0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0,        // 115200 baud
                             0xFF, 0xFA, 0x2C, 0x66, 0x08, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x67,  // 8 bits, parity
                             0x01, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF, 0xF0};       // none, 1 stop
const Bytes CONTROL_CONFIRMED = {0xFF, 0xFA, 0x2C, 0x69, 0x01, 0xFF, 0xF0};
const Bytes REPLY = {0xF0, 0x01, 0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0x6A, 0x60, 0xFF, 0xF0, 0x06};  // line state inside

TEST(ComPortSession, NegotiatesTheKeypadLineWithASerialDeviceServer) {
    CComPortSession session;
    Bytes out;
    session.Start(out);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFB, 0x2C, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00}));

    // Fed byte by byte: answers and state must not depend on how reads split.
    Bytes data;
    out.clear();
    for (uint8_t byte : GREETING) session.Receive(&byte, 1, data, out);
    const Bytes answers = {
        0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x03, 0xFF, 0xFE, 0x01,               // DO SGA, WILL SGA, DONT ECHO
        0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0,         // SET-BAUDRATE 115200
        0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0,                           // SET-DATASIZE 8
        0xFF, 0xFA, 0x2C, 0x03, 0x01, 0xFF, 0xF0,                           // SET-PARITY none
        0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0,                           // SET-STOPSIZE 1
        0xFF, 0xFA, 0x2C, 0x05, 0x01, 0xFF, 0xF0};                          // SET-CONTROL no flow control
    EXPECT_EQ(out, answers);

    out.clear();
    session.Receive(CONFIRMATIONS.data(), static_cast<int>(CONFIRMATIONS.size()), data, out);
    EXPECT_EQ(session.State(), COM_PORT_NEGOTIATING);  // flow control not confirmed yet
    session.Receive(CONTROL_CONFIRMED.data(), static_cast<int>(CONTROL_CONFIRMED.size()), data, out);
    EXPECT_EQ(session.State(), COM_PORT_READY);
    session.Receive(REPLY.data(), static_cast<int>(REPLY.size()), data, out);
    EXPECT_EQ(data, (Bytes{0xF0, 0x01, 0xFF, 0x06}));
    EXPECT_TRUE(out.empty());

    // An option nobody asked for is declined.
    const Bytes terminalType = {0xFF, 0xFD, 0x18};
    session.Receive(terminalType.data(), 3, data, out);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFC, 0x18}));
}

TEST(ComPortSession, AServerWithoutSerialPortControlRefusesTheOption) {
    CComPortSession session;
    Bytes out;
    Bytes data;
    session.Start(out);
    out.clear();
    const Bytes refusal = {0xFF, 0xFE, 0x2C, 0xFF, 0xFD, 0x00};  // DONT COM-PORT-OPTION, DO BINARY
    session.Receive(refusal.data(), static_cast<int>(refusal.size()), data, out);
    EXPECT_EQ(session.State(), COM_PORT_REFUSED);
    EXPECT_TRUE(out.empty());  // both were answers to our own offers
}

// A server that sets a line of its own choice is caught when it confirms it.
TEST(ComPortSession, ALineOtherThanTheKeypadsIsRefusedWithWhatTheServerSet) {
    auto confirm = [](const Bytes& confirmations) {
        CComPortSession session;
        Bytes out, data;
        session.Start(out);
        const Bytes doComPort = {0xFF, 0xFD, 0x2C};
        session.Receive(doComPort.data(), 3, data, out);
        session.Receive(confirmations.data(), static_cast<int>(confirmations.size()), data, out);
        return session;
    };
    const Bytes seven_e1 = {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0,  // 9600
                            0xFF, 0xFA, 0x2C, 0x66, 0x07, 0xFF, 0xF0,                    // 7 bits
                            0xFF, 0xFA, 0x2C, 0x67, 0x03, 0xFF, 0xF0,                    // even
                            0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF, 0xF0,                    // 1 stop
                            0xFF, 0xFA, 0x2C, 0x69, 0x01, 0xFF, 0xF0};                   // no flow control
    CComPortSession wrong = confirm(seven_e1);
    EXPECT_EQ(wrong.State(), COM_PORT_WRONG_LINE);
    EXPECT_EQ(wrong.WrongLineText(), "the server set 9600 7E1, not 115200 8N1");

    Bytes hardwareFlow = CONFIRMATIONS;
    hardwareFlow.insert(hardwareFlow.end(), {0xFF, 0xFA, 0x2C, 0x69, 0x03, 0xFF, 0xF0});
    CComPortSession flow = confirm(hardwareFlow);
    EXPECT_EQ(flow.State(), COM_PORT_WRONG_LINE);
    EXPECT_EQ(flow.WrongLineText(), "the server set 115200 8N1 with hardware flow control, not 115200 8N1");
}

}  // namespace

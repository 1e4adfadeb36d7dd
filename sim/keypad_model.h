#pragma once
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// How the simulated keypad is set up: what its Memory ID record reports, how
// long its work takes, and which faults it shows.
struct KeypadConfig {
    // Memory ID record.
    int firmwareLastSector = 9;
    int screensLastSector = 3;
    uint32_t programIndex = 0x10000;
    uint32_t tagValue = 0xFFFFFFFF;
    // Bytes one flash sector holds, in either area.
    uint32_t sectorSize = 256 * 1024;

    // Timings, in milliseconds, added to the reply of the command concerned.
    int eraseMsPerSector = 0;
    int writeMsPerChunk = 0;
    int replyDelayMs = 0;  // every reply
    int baud = 0;          // 0: no line rate; else both frames cost 10 bits a byte at this rate

    // Faults. Replies are counted from 1 over the model's life.
    bool silent = false;  // answers nothing at all
    int silentAfter = 0;  // answers nothing after this many replies (0: off)
    int dropFrom = 0;     // drops replies dropFrom .. dropFrom + dropCount - 1 (0: off)
    int dropCount = 1;
    int corruptReply = 0;     // sends reply n with a wrong sum (0: off)
    int duplicateReply = 0;   // sends reply n twice (0: off)
    uint8_t failCommand = 0;  // answers RSP_FAILED to this command code (0: off) ...
    int failOccurrence = 1;   // ... on its n-th occurrence
    bool ackExecute = false;
    // Loses or corrupts, at random, this share (percent) of the replies to the
    // probe and the memory-identification requests: faults the loader
    // recovers from by resending.
    int randomFaultPercent = 0;
    uint32_t randomSeed = 1;  // answers CMD_EXECUTE with RSP_ACK instead of RSP_OK
};

// The keypad both programs' --simulate start: the real line rate, and an
// erase of 0.3 s a sector so that a demo looks like the real thing yet is quick.
KeypadConfig DemoKeypadConfig();

// One reply on its way: encoded bytes, and how long after the command's last
// byte arrived they leave the keypad. With a line rate, the time both frames
// spend on the wire is included, so the delay ends when the reply has arrived.
struct KeypadReply {
    std::vector<uint8_t> bytes;
    int delayMs;      // delayUs rounded up, for hosts with millisecond timers
    int delayUs = 0;  // the same delay, in microseconds
};

enum KeypadArea { KEYPAD_AREA_SCREENS = 1, KEYPAD_AREA_FIRMWARE = 2 };

// A keypad in Kestrel mode, written from the wire protocol alone. It parses
// the loader's frames (with their sequence numbers), answers each command, and
// keeps a NOR flash per area: erase sets a sector to 0xFF, a write can only
// clear bits, so a write over bytes that were not erased fails.
class CKeypadModel {
public:
    explicit CKeypadModel(const KeypadConfig& config);

    // Bytes from the loader, in order. Replies due are appended to `out`.
    void Receive(const uint8_t* data, size_t count, std::vector<KeypadReply>& out);

    // The data the loader wrote to an area, from its programming index on, as
    // long as the furthest byte written (the image as the keypad holds it).
    std::vector<uint8_t> AreaContents(KeypadArea area) const;
    // The Valid data record last accepted (empty if none).
    const std::vector<uint8_t>& ValidRecord() const { return m_validRecord; }
    bool Executed() const { return m_executed; }
    // The failCommand fault has answered: the update this keypad was in is over.
    bool FaultAnswered() const { return m_faultAnswered; }
    // Commands seen, by code, counting each frame once (resends with the same
    // sequence number are not counted again).
    int CommandCount(uint8_t code) const { return m_commandCounts[code]; }
    // Replies put on the line (a duplicated reply counts once). Replies the
    // faults hold back are not counted here, but they take their number.
    int RepliesSent() const { return m_replies; }
    int RepliesNumbered() const { return m_replyNumber; }
    // Frames with a good sum, resends included.
    int FramesReceived() const { return m_framesReceived; }
    // Code of the last command handled (0 before the first). A screens update
    // has no closing command, so a host tells its end by this and a quiet line.
    uint8_t LastCommand() const { return m_haveLast ? m_lastPayload[0] : 0; }

    // The Memory ID record's bytes 1..9 mean nothing to the loader; the model
    // fills them with this.
    static constexpr uint8_t MEM_ID_FILLER = 0x5A;

private:
    enum RxState { RX_WAIT_START, RX_SEQUENCE, RX_LENGTH, RX_PAYLOAD, RX_SUM };

    // One area's NOR flash. It grows as sectors are erased; bytes past its
    // end were never erased and read as 0x00 (old contents, every bit clear).
    struct Area {
        int firstSector = 0;
        uint64_t size = 0;                // bytes the area spans
        std::vector<uint8_t> flash;       // from offset 0
        std::vector<uint64_t> sectorEnd;  // per sector: one past the furthest byte written
        int64_t writePosition = -1;       // offset of the next data byte; -1: never set
    };
    static uint64_t Furthest(const Area& area);

    void FeedByte(uint8_t value, std::vector<KeypadReply>& out);
    void HandleFrame(int encodedLength, std::vector<KeypadReply>& out);
    std::vector<uint8_t> Execute(const uint8_t* p, int n, int& workMs);
    uint8_t Erase(const uint8_t* p, int n);
    uint8_t SetProgramIndex(const uint8_t* p, int n);
    uint8_t WriteData(Area& area, const uint8_t* data, int count);
    uint8_t CheckChecksumQuery(const uint8_t* p, int n);
    uint8_t CheckValidRecord(const uint8_t* p);
    std::vector<uint8_t> MemoryIdRecord() const;
    uint16_t FirmwareChecksum() const;
    uint32_t FirmwareEndIndex() const;
    void Emit(const std::vector<uint8_t>& payload, int workMs, int commandLength, bool recoverable,
              std::vector<KeypadReply>& out);
    int LineTimeUs(size_t bytes) const;

    KeypadConfig m_config;
    Area m_firmware;
    Area m_screens;
    bool m_validRecordDue = false;  // a checksum query was accepted

    // Frame being received.
    RxState m_rxState = RX_WAIT_START;
    bool m_escapePending = false;
    uint8_t m_rxSequence = 0;
    int m_rxLength = 0;
    int m_rxCount = 0;
    uint8_t m_rxSum = 0;
    uint8_t m_rxPayload[256] = {};
    int m_rxEncoded = 0;  // line bytes of this frame so far, start included

    // Last frame handled, to recognise a resend, and what it was answered.
    bool m_haveLast = false;
    uint8_t m_lastSequence = 0;
    std::vector<uint8_t> m_lastPayload;
    std::vector<uint8_t> m_lastReply;

    int m_replyNumber = 0;
    std::minstd_rand m_random;
    std::vector<uint8_t> m_validRecord;
    bool m_executed = false;
    bool m_faultAnswered = false;
    int m_commandCounts[256] = {};
    int m_replies = 0;
    int m_framesReceived = 0;
};

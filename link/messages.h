#pragma once
#include <cstdint>

#include "frame_codec.h"

// Commands, loader to keypad.
constexpr uint8_t CMD_SYNC = 0x55;  // followed by CMD_SYNC_2
constexpr uint8_t CMD_SYNC_2 = 0xAA;
constexpr uint8_t CMD_GET_FW_MEM_ID = 0x88;
constexpr uint8_t CMD_GET_SCR_MEM_ID = 0x89;
constexpr uint8_t CMD_ERASE_SECTOR = 0x84;
constexpr uint8_t CMD_SET_PROG_INDEX = 0xA0;
constexpr uint8_t CMD_FW_DATA = 0x90;
constexpr uint8_t CMD_SCR_DATA = 0x91;
constexpr uint8_t CMD_CHECKSUM_QUERY = 0x9C;
constexpr uint8_t CMD_EXECUTE = 0x77;

// Replies, keypad to loader.
constexpr uint8_t RSP_ACK = 0x06;
constexpr uint8_t RSP_MEM_ID = 0x82;
constexpr uint8_t RSP_OK = 0xE0;
constexpr uint8_t RSP_FAILED = 0xE1;

constexpr uint8_t AREA_SCREENS = 1;
constexpr uint8_t AREA_FIRMWARE = 2;

constexpr int DATA_CHUNK_MAX = 124;
constexpr int MEM_ID_RECORD_LENGTH = 20;
constexpr int VALID_DATA_RECORD_LENGTH = 16;
// The tag the keypad reports for an unset tag word, and what the loader sends instead.
constexpr uint32_t TAG_UNSET = 0xFFFFFFFF;
constexpr uint32_t TAG_UNSET_REPLACEMENT = 33;

// The keypad's wake-up, before the sync frame of a first probe: the line held
// at BREAK WAKE_BREAK_MS, then idle as long. `setBreak(bool)` switches the
// line and `sleep(ms)` blocks, each the host's own, so tests run it in virtual time.
constexpr int WAKE_BREAK_MS = 100;
template <typename SetBreak, typename Sleep>
void WakeKeypad(SetBreak&& setBreak, Sleep&& sleep) {
    setBreak(true);
    sleep(WAKE_BREAK_MS);
    setBreak(false);
    sleep(WAKE_BREAK_MS);
}

// Payload layouts. Each appends to a message begun with BeginMessage; the
// caller sends it.
void AppendSync(CFrameSender& s);
void AppendEraseSector(CFrameSender& s, uint8_t area, int sector);
void AppendSetProgramIndex(CFrameSender& s, uint32_t index);
void AppendDataChunk(CFrameSender& s, uint8_t code, const uint8_t* bytes, int count);
void AppendChecksumQuery(CFrameSender& s, uint32_t startIndex, uint32_t endIndex, uint16_t checksum);
void AppendValidData(CFrameSender& s, uint16_t checksum, uint32_t startIndex, uint32_t endIndex,
                     uint32_t tag);

// Sum of the big-endian 16-bit words of the image from `start` on; an odd last
// byte has no partner and is not counted. Users take the low 16 bits.
uint32_t ComputeImageChecksum(const uint8_t* image, uint32_t length, uint32_t start);

// End index of an image: the programming index plus (length - 1) / 2, in
// wrapping 32-bit arithmetic.
uint32_t EndIndexOf(uint32_t programIndex, uint32_t imageLength);

// Little- and big-endian fields.
uint32_t ReadLE32(const uint8_t* p);
uint32_t ReadBE32(const uint8_t* p);
void WriteLE32(uint8_t* p, uint32_t v);

// Fields the loader keeps from a Memory ID record (receive buffer offsets 10..19).
struct MemoryIdFirmware {
    int lastSector;
    uint32_t programIndex;
    uint32_t tagValue;
};
MemoryIdFirmware ReadFirmwareMemoryId(const uint8_t* record);
int ReadScreensMemoryId(const uint8_t* record);

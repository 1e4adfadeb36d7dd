#include "keypad_model.h"

#include <algorithm>

#include "link/messages.h"

namespace {

// Sector numbering: the firmware flash begins at sector 6, the screens flash at 1.
constexpr int FIRMWARE_FIRST_SECTOR = 6;
constexpr int SCREENS_FIRST_SECTOR = 1;

void PutEscaped(std::vector<uint8_t>& out, uint8_t value) {
    if (value == FRAME_START || value == FRAME_ESCAPE) {
        out.push_back(FRAME_ESCAPE);
        out.push_back(static_cast<uint8_t>(value ^ 0xFF));
    } else {
        out.push_back(value);
    }
}

uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

KeypadConfig DemoKeypadConfig() {
    KeypadConfig config;
    config.baud = 115200;
    config.eraseMsPerSector = 300;
    return config;
}

CKeypadModel::CKeypadModel(const KeypadConfig& config) : m_config(config), m_random(config.randomSeed) {
    // A zero sector size would make every sector empty and divide by zero.
    m_config.sectorSize = std::max<uint32_t>(m_config.sectorSize, 1);
    auto setUp = [this](Area& area, int first, int last) {
        last = std::max(first, last);
        area.firstSector = first;
        area.sectorEnd.assign(static_cast<size_t>(last - first + 1), 0);
        area.size = area.sectorEnd.size() * uint64_t{m_config.sectorSize};
    };
    setUp(m_firmware, FIRMWARE_FIRST_SECTOR, m_config.firmwareLastSector);
    setUp(m_screens, SCREENS_FIRST_SECTOR, m_config.screensLastSector);
}

void CKeypadModel::Receive(const uint8_t* data, size_t count, std::vector<KeypadReply>& out) {
    for (size_t i = 0; i < count; ++i) FeedByte(data[i], out);
}

std::vector<uint8_t> CKeypadModel::AreaContents(KeypadArea area) const {
    const Area& a = area == KEYPAD_AREA_FIRMWARE ? m_firmware : m_screens;
    return {a.flash.begin(), a.flash.begin() + static_cast<std::ptrdiff_t>(Furthest(a))};
}

uint64_t CKeypadModel::Furthest(const Area& area) {
    return *std::max_element(area.sectorEnd.begin(), area.sectorEnd.end());
}

void CKeypadModel::FeedByte(uint8_t value, std::vector<KeypadReply>& out) {
    if (value == FRAME_START) {
        // Only a raw start byte begins a frame; it drops any unfinished one.
        m_rxState = RX_SEQUENCE;
        m_escapePending = false;
        m_rxEncoded = 1;
        return;
    }
    if (m_rxState == RX_WAIT_START) return;
    ++m_rxEncoded;
    if (value == FRAME_ESCAPE) {
        m_escapePending = true;
        return;
    }
    if (m_escapePending) {
        value ^= 0xFF;
        m_escapePending = false;
    }
    switch (m_rxState) {
        case RX_SEQUENCE:
            m_rxSequence = value;
            m_rxState = RX_LENGTH;
            break;
        case RX_LENGTH:
            m_rxLength = value == 0 ? 256 : value;
            m_rxCount = 0;
            m_rxSum = 0;
            m_rxState = RX_PAYLOAD;
            break;
        case RX_PAYLOAD:
            m_rxPayload[m_rxCount++] = value;
            m_rxSum = static_cast<uint8_t>(m_rxSum + value);
            if (m_rxCount == m_rxLength) m_rxState = RX_SUM;
            break;
        case RX_SUM:
            m_rxState = RX_WAIT_START;
            if (value == m_rxSum) HandleFrame(m_rxEncoded, out);
            break;
        case RX_WAIT_START:
            break;
    }
}

void CKeypadModel::HandleFrame(int encodedLength, std::vector<KeypadReply>& out) {
    ++m_framesReceived;
    const uint8_t* p = m_rxPayload;
    const int n = m_rxLength;
    // The loader repeats a frame whose reply it missed; doing the work again
    // would write a data chunk twice, so the first answer is repeated instead.
    const bool resend = m_haveLast && m_rxSequence == m_lastSequence &&
                        std::equal(p, p + n, m_lastPayload.begin(), m_lastPayload.end());
    int workMs = 0;
    if (!resend) {
        const uint8_t code = p[0];
        const int occurrence = ++m_commandCounts[code];
        if (m_config.failCommand != 0 && code == m_config.failCommand && occurrence == m_config.failOccurrence) {
            m_lastReply = {RSP_FAILED};
            m_faultAnswered = true;
        } else {
            m_lastReply = Execute(p, n, workMs);
        }
        m_haveLast = true;
        m_lastSequence = m_rxSequence;
        m_lastPayload.assign(p, p + n);
    }
    const uint8_t code = p[0];
    const bool recoverable = code == CMD_SYNC || code == CMD_GET_FW_MEM_ID || code == CMD_GET_SCR_MEM_ID;
    Emit(m_lastReply, workMs, encodedLength, recoverable, out);
}

std::vector<uint8_t> CKeypadModel::Execute(const uint8_t* p, int n, int& workMs) {
    const uint8_t code = p[0];
    switch (code) {
        case CMD_SYNC:
            if (n == 2 && p[1] == CMD_SYNC_2) return {RSP_ACK};
            break;
        case CMD_GET_FW_MEM_ID:
        case CMD_GET_SCR_MEM_ID:
            if (n == 1) return MemoryIdRecord();
            break;
        case CMD_ERASE_SECTOR: {
            const uint8_t reply = Erase(p, n);
            if (reply == RSP_OK) workMs = m_config.eraseMsPerSector;
            return {reply};
        }
        case CMD_SET_PROG_INDEX:
            return {SetProgramIndex(p, n)};
        case CMD_FW_DATA:
            // The record after an accepted checksum query shares the data code;
            // its length tells it apart from a chunk.
            if (m_validRecordDue && n == 1 + VALID_DATA_RECORD_LENGTH) {
                m_validRecordDue = false;
                return {CheckValidRecord(p)};
            }
            [[fallthrough]];
        case CMD_SCR_DATA: {
            if (n < 2 || n > 1 + DATA_CHUNK_MAX) break;
            const uint8_t reply = WriteData(code == CMD_FW_DATA ? m_firmware : m_screens, p + 1, n - 1);
            if (reply == RSP_OK) workMs = m_config.writeMsPerChunk;
            return {reply};
        }
        case CMD_CHECKSUM_QUERY:
            return {CheckChecksumQuery(p, n)};
        case CMD_EXECUTE:
            if (n != 1) break;
            m_executed = true;
            return {m_config.ackExecute ? RSP_ACK : RSP_OK};
        default:
            break;
    }
    return {RSP_FAILED};
}

uint8_t CKeypadModel::Erase(const uint8_t* p, int n) {
    if (n != 3) return RSP_FAILED;
    Area* area = p[1] == AREA_FIRMWARE ? &m_firmware : p[1] == AREA_SCREENS ? &m_screens : nullptr;
    if (area == nullptr) return RSP_FAILED;
    const int index = p[2] - area->firstSector;
    if (index < 0 || index >= static_cast<int>(area->sectorEnd.size())) return RSP_FAILED;

    const uint64_t start = static_cast<uint64_t>(index) * m_config.sectorSize;
    const uint64_t end = start + m_config.sectorSize;
    if (area->flash.size() < end) area->flash.resize(end, 0x00);
    std::fill(area->flash.begin() + static_cast<std::ptrdiff_t>(start),
              area->flash.begin() + static_cast<std::ptrdiff_t>(end), 0xFF);
    area->sectorEnd[static_cast<size_t>(index)] = 0;
    // A new update begins with erases; a record still expected from an
    // abandoned one must not swallow a chunk.
    m_validRecordDue = false;
    return RSP_OK;
}

uint8_t CKeypadModel::SetProgramIndex(const uint8_t* p, int n) {
    if (n != 5) return RSP_FAILED;
    // Indexes count 16-bit words. The data code, not this command, picks the
    // area, so both positions are set and the index must fit at least one.
    const int64_t index = ReadLE32(p + 1);
    m_firmware.writePosition = (index - static_cast<int64_t>(m_config.programIndex)) * 2;
    m_screens.writePosition = index * 2;
    auto inside = [](const Area& a) { return a.writePosition >= 0 && static_cast<uint64_t>(a.writePosition) < a.size; };
    return inside(m_firmware) || inside(m_screens) ? RSP_OK : RSP_FAILED;
}

uint8_t CKeypadModel::WriteData(Area& area, const uint8_t* data, int count) {
    for (int i = 0; i < count; ++i) {
        if (area.writePosition < 0 || static_cast<uint64_t>(area.writePosition) >= area.size) return RSP_FAILED;
        const uint64_t at = static_cast<uint64_t>(area.writePosition);
        const uint8_t old = at < area.flash.size() ? area.flash[at] : 0x00;
        // NOR flash can only clear bits: a 1 where the cell holds 0 needs an erase.
        if ((old & data[i]) != data[i]) return RSP_FAILED;
        if (at >= area.flash.size()) area.flash.resize(at + 1, 0x00);
        area.flash[at] = data[i];
        ++area.writePosition;
        uint64_t& end = area.sectorEnd[at / m_config.sectorSize];
        end = std::max(end, at + 1);
    }
    return RSP_OK;
}

uint16_t CKeypadModel::FirmwareChecksum() const {
    const uint32_t length = static_cast<uint32_t>(Furthest(m_firmware));
    return static_cast<uint16_t>(ComputeImageChecksum(m_firmware.flash.data(), length, 16));
}

uint32_t CKeypadModel::FirmwareEndIndex() const {
    return EndIndexOf(m_config.programIndex, static_cast<uint32_t>(Furthest(m_firmware)));
}

uint8_t CKeypadModel::CheckChecksumQuery(const uint8_t* p, int n) {
    if (n != 11) return RSP_FAILED;
    const uint16_t checksum = static_cast<uint16_t>(p[9] | p[10] << 8);
    const bool ok = ReadLE32(p + 1) == m_config.programIndex + 8u && ReadLE32(p + 5) == FirmwareEndIndex() &&
                    checksum == FirmwareChecksum();
    if (ok) m_validRecordDue = true;
    return ok ? RSP_OK : RSP_FAILED;
}

uint8_t CKeypadModel::CheckValidRecord(const uint8_t* p) {
    const uint16_t checksum = FirmwareChecksum();
    const uint32_t tag = m_config.tagValue == TAG_UNSET ? TAG_UNSET_REPLACEMENT : m_config.tagValue;
    const bool ok = ReadBE16(p + 1) == checksum && ReadBE16(p + 3) == (checksum ^ 0xFFFF) &&
                    ReadBE32(p + 5) == m_config.programIndex + 8u && ReadBE32(p + 9) == FirmwareEndIndex() &&
                    ReadBE32(p + 13) == tag;
    if (!ok) return RSP_FAILED;
    m_validRecord.assign(p + 1, p + 1 + VALID_DATA_RECORD_LENGTH);
    return RSP_OK;
}

std::vector<uint8_t> CKeypadModel::MemoryIdRecord() const {
    std::vector<uint8_t> record(MEM_ID_RECORD_LENGTH, MEM_ID_FILLER);
    record[0] = RSP_MEM_ID;
    record[10] = static_cast<uint8_t>(m_config.firmwareLastSector);
    record[11] = static_cast<uint8_t>(m_config.screensLastSector);
    WriteLE32(&record[12], m_config.programIndex);
    WriteLE32(&record[16], m_config.tagValue);
    return record;
}

int CKeypadModel::LineTimeUs(size_t bytes) const {
    if (m_config.baud <= 0) return 0;
    const uint64_t baud = static_cast<uint64_t>(m_config.baud);
    return static_cast<int>((bytes * 10 * uint64_t{1000000} + baud / 2) / baud);
}

void CKeypadModel::Emit(const std::vector<uint8_t>& payload, int workMs, int commandLength, bool recoverable,
                        std::vector<KeypadReply>& out) {
    const int number = ++m_replyNumber;
    if (m_config.silent) return;
    bool corrupt = number == m_config.corruptReply;
    if (recoverable && m_config.randomFaultPercent > 0 &&
        static_cast<int>(m_random() % 100) < m_config.randomFaultPercent) {
        if (m_random() % 2) return;
        corrupt = true;
    }
    if (m_config.silentAfter > 0 && m_replies >= m_config.silentAfter) return;
    if (m_config.dropFrom > 0 && number >= m_config.dropFrom &&
        static_cast<int64_t>(number) < static_cast<int64_t>(m_config.dropFrom) + m_config.dropCount)
        return;

    KeypadReply reply;
    reply.bytes.push_back(FRAME_START);
    PutEscaped(reply.bytes, static_cast<uint8_t>(payload.size()));
    uint8_t sum = 0;
    for (uint8_t b : payload) {
        PutEscaped(reply.bytes, b);
        sum = static_cast<uint8_t>(sum + b);
    }
    if (corrupt) ++sum;
    PutEscaped(reply.bytes, sum);

    const int64_t us = (static_cast<int64_t>(m_config.replyDelayMs) + workMs) * 1000 +
                       LineTimeUs(static_cast<size_t>(commandLength) + reply.bytes.size());
    reply.delayUs = static_cast<int>(us);
    reply.delayMs = static_cast<int>((us + 999) / 1000);
    ++m_replies;
    out.push_back(reply);
    if (number == m_config.duplicateReply) {
        // The copy follows the first on the line.
        reply.delayUs += LineTimeUs(reply.bytes.size());
        reply.delayMs = (reply.delayUs + 999) / 1000;
        out.push_back(reply);
    }
}

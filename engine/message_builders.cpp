// The engine's side of each command: what it reads from its own state to fill
// the payload laid out in link/messages.
#include "../link/messages.h"
#include "loader_engine.h"

void CLoaderEngine::SendCode(uint8_t code) {
    m_sender.BeginMessage();
    m_sender.AppendByte(code);
    SendNewFrame();
}

void CLoaderEngine::SendGetFirmwareMemoryId() { SendCode(CMD_GET_FW_MEM_ID); }
void CLoaderEngine::SendGetScreensMemoryId() { SendCode(CMD_GET_SCR_MEM_ID); }
void CLoaderEngine::SendExecute() { SendCode(CMD_EXECUTE); }

void CLoaderEngine::SendEraseFirmwareSector(int sector) {
    m_eraseSent = true;
    m_sender.BeginMessage();
    AppendEraseSector(m_sender, AREA_FIRMWARE, sector);
    SendNewFrame();
}

void CLoaderEngine::SendEraseScreensSector(int sector) {
    m_eraseSent = true;
    m_sender.BeginMessage();
    AppendEraseSector(m_sender, AREA_SCREENS, sector);
    SendNewFrame();
}

void CLoaderEngine::SendSetProgramIndex(uint32_t index) {
    m_sender.BeginMessage();
    AppendSetProgramIndex(m_sender, index);
    SendNewFrame();
}

int CLoaderEngine::SendDataChunk(uint8_t code) {
    uint32_t length = m_image.Length();
    // Never read past the image, whatever state the caller left.
    uint32_t left = length > m_dataPosition ? length - m_dataPosition : 0;
    int count = left > DATA_CHUNK_MAX ? DATA_CHUNK_MAX : static_cast<int>(left);
    m_sender.BeginMessage();
    AppendDataChunk(m_sender, code, m_image.Data() + m_dataPosition, count);
    SendNewFrame();
    m_dataPosition += static_cast<uint32_t>(count);
    return m_dataPosition >= length;
}

void CLoaderEngine::SendFirmwareData() {
    // The step changes after the write, so the reply to the last chunk runs it.
    if (SendDataChunk(CMD_FW_DATA)) m_firmwareStep = FW_LAST_CHUNK;
}

void CLoaderEngine::SendScreensData() {
    if (SendDataChunk(CMD_SCR_DATA)) m_screensStep = SCR_LAST_CHUNK;
}

void CLoaderEngine::SendChecksumQuery(uint32_t startIndex) {
    m_endIndex = EndIndexOf(m_programIndex, m_image.Length());
    uint16_t checksum = static_cast<uint16_t>(ComputeImageChecksum(m_image.Data(), m_image.Length(), 16));
    m_sender.BeginMessage();
    AppendChecksumQuery(m_sender, startIndex, m_endIndex, checksum);
    SendNewFrame();
}

void CLoaderEngine::SendValidData() {
    uint16_t checksum = static_cast<uint16_t>(ComputeImageChecksum(m_image.Data(), m_image.Length(), 16));
    m_sender.BeginMessage();
    AppendValidData(m_sender, checksum, m_programIndex + 8, m_endIndex, m_tagValue);
    SendNewFrame();
}

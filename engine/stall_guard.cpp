// The stall guard: from setting the programming index on, no reply timer
// resends, so one lost reply would leave an update waiting for ever.
#include <cstdio>

#include "../link/messages.h"
#include "loader_engine.h"

void CLoaderEngine::SetStallGuard(int seconds, bool namePlace) {
    m_stallSeconds = seconds;
    m_stallNamesPlace = namePlace;
}

// Only a whole frame with a good sum counts as the keypad answering (noise
// does not), and the guard rests while another timer resends on its own.
void CLoaderEngine::RefreshStallGuard(bool answered) {
    bool guarded = IsArmed(TIMER_CONNECT) || IsArmed(TIMER_REPLY) || IsArmed(TIMER_ERASE) || IsArmed(TIMER_SETTLE);
    if (!IsBusy() || guarded || m_stallSeconds <= 0) {
        if (IsArmed(TIMER_STALL)) StopTimer(TIMER_STALL);
        return;
    }
    if (answered || !IsArmed(TIMER_STALL)) ArmTimer(TIMER_STALL, m_stallSeconds * 1000);
}

std::string CLoaderEngine::StallPlace() const {
    bool firmware = m_mode == MODE_FIRMWARE;
    bool dataOut = firmware ? m_firmwareStep == FW_DATA || m_firmwareStep == FW_LAST_CHUNK
                            : m_screensStep == SCR_DATA || m_screensStep == SCR_LAST_CHUNK;
    if (dataOut) {
        // The chunk last sent is the one whose answer is missing; the offset
        // is how far the image has gone out.
        uint32_t chunk = (m_dataPosition + DATA_CHUNK_MAX - 1) / DATA_CHUNK_MAX;
        uint32_t chunks = (m_image.Length() + DATA_CHUNK_MAX - 1) / DATA_CHUNK_MAX;
        char text[96];
        std::snprintf(text, sizeof text, "data chunk %u of %u, image offset 0x%X", chunk, chunks, m_dataPosition);
        return text;
    }
    if (!firmware) return m_screensStep == SCR_PROGRAM_INDEX ? "programming index" : m_stepDescription;
    switch (m_firmwareStep) {
    case FW_PROGRAM_INDEX:
        return "programming index";
    case FW_CHECKSUM:
        return "checksum query";
    case FW_VALID_INDEX:
        return "valid data index";
    case FW_VALID_DATA:
        return "Valid data record";
    case FW_EXECUTE:
        return "execute command";
    default:
        return m_stepDescription;
    }
}

void CLoaderEngine::OnStall() {
    char text[160];
    int n = std::snprintf(text, sizeof text, "No reply from ORBIX for %d second%s", m_stallSeconds,
                          m_stallSeconds == 1 ? "" : "s");
    if (m_stallNamesPlace) std::snprintf(text + n, sizeof text - n, " (%s)", StallPlace().c_str());
    EndOperation(text, OUTCOME_FAILED);
}

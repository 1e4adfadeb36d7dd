// The firmware and screens update sequences: one step per keypad reply.
#include <cstdio>

#include "file_steps.h"
#include "../link/messages.h"
#include "loader_engine.h"

// The erase and data steps run both updates by the firmware's numbers.
static_assert(int(SCR_ERASE) == int(FW_ERASE) && int(SCR_PROGRAM_INDEX) == int(FW_PROGRAM_INDEX) &&
              int(SCR_DATA) == int(FW_DATA));

namespace {
std::string FormatSector(const char* format, int sector) {
    char text[64];
    std::snprintf(text, sizeof text, format, sector);
    return text;
}
}  // namespace

int CLoaderEngine::ConfirmErase(const char* question, LoaderMode mode) {
    if (IsBusy() || !m_host.AskYesNo(question)) return 0;
    BeginOperation(mode);
    return 1;
}

FileStepResult CLoaderEngine::LoadFirmwareFile() {
    if (IsBusy()) return {};
    ResetActivity();
    return OpenFirmwareFile(m_host, m_image, m_firmwarePath);
}

FileStepResult CLoaderEngine::LoadScreensFile() {
    if (IsBusy()) return {};
    ResetActivity();
    return OpenScreensFile(m_host, m_image, m_screensPath);
}

void CLoaderEngine::StartFirmwareUpdate() {
    if (!ConfirmErase(QUESTION_ERASE_FIRMWARE, MODE_FIRMWARE)) return;
    m_firmwareStep = FW_PROBE;
    SendProbe();
}

void CLoaderEngine::StartScreensUpdate() {
    if (!ConfirmErase(QUESTION_ERASE_SCREENS, MODE_SCREENS)) return;
    m_screensStep = SCR_PROBE;
    SendProbe();
}

// A record that leaves nothing to erase (the firmware area starts at sector 6,
// the screens area at 1) ends the update before anything is erased.
int CLoaderEngine::RefuseMemoryId(bool invalid) {
    if (!invalid) return 0;
    Finish("Got invalid memory ID from keypad", OUTCOME_FAILED);
    return 1;
}

void CLoaderEngine::RequestMemoryId(bool firmware) {
    if (firmware) SendGetFirmwareMemoryId();
    else SendGetScreensMemoryId();
    m_stepDescription = firmware ? "Getting firmware memory ID" : "Getting screen memory ID";
    ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
}

void CLoaderEngine::ReadFirmwareFields() {
    MemoryIdFirmware id = ReadFirmwareMemoryId(m_parser.ReceiveBuffer());
    m_firmwareLastSector = id.lastSector;
    m_programIndex = id.programIndex;
    m_tagValue = id.tagValue;
    m_firmwareIdRead = true;
}

void CLoaderEngine::ReadScreensFields() {
    m_screensLastSector = ReadScreensMemoryId(m_parser.ReceiveBuffer());
    m_screensIdRead = true;
}

void CLoaderEngine::OnFirmwareMemoryId() {
    StopTimer(TIMER_REPLY);
    ReadFirmwareFields();
    if (RefuseMemoryId(m_firmwareLastSector < FIRMWARE_FIRST_SECTOR)) return;
    NextFirmwareStep();
}

void CLoaderEngine::OnScreensMemoryId() {
    StopTimer(TIMER_REPLY);
    ReadScreensFields();
    if (RefuseMemoryId(m_screensLastSector < SCREENS_FIRST_SECTOR)) return;
    NextScreensStep();
}

// The reply to one erase: show it, then erase the next sector or, past the
// last, set the programming index. Both guard timers stop: a resend armed
// TIMER_REPLY, which would otherwise fire early against the next erase.
template <typename Step>
void CLoaderEngine::EraseNext(Step& step, int lastSector, uint8_t area) {
    bool firmware = area == AREA_FIRMWARE;
    StopTimer(TIMER_ERASE);
    StopTimer(TIMER_REPLY);
    m_host.Progress(m_eraseSector, lastSector);
    if (++m_eraseSector > lastSector) {
        SetStatus("Setting Programming index");
        step = Step(FW_PROGRAM_INDEX);
        SendSetProgramIndex(m_programIndex);
        return;
    }
    if (firmware) SendEraseFirmwareSector(m_eraseSector);
    else SendEraseScreensSector(m_eraseSector);
    m_stepDescription =
        FormatSector(firmware ? "Erasing firmware sector: %d" : "Erasing screens sector: %d", m_eraseSector);
    SetStatus(m_stepDescription);
    if (firmware) ArmTimer(TIMER_ERASE, TIMER_ERASE_MS);
    else ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
}

// The index's reply sends the first chunk and starts the data phase; each
// chunk's reply sends the next one. The step becomes the data step before the
// first chunk goes, so the builder's change after the last chunk is the one
// that stands. The steps' numbers are the same in both updates.
template <typename Step>
void CLoaderEngine::DataStep(Step& step, void (CLoaderEngine::*sendChunk)(), const char* status,
                             int initialEstimate) {
    int length = static_cast<int>(m_image.Length());
    if (step == Step(FW_PROGRAM_INDEX)) {
        SetStatus(status);
        step = Step(FW_DATA);
        m_dataPosition = 0;
        (this->*sendChunk)();
        StartDataPhase(initialEstimate);
        m_host.PhaseStarted(PHASE_DATA, 0, length);
        return;
    }
    (this->*sendChunk)();
    UpdateTimeEstimate();
    m_host.Progress(static_cast<int>(m_dataPosition), length);
}

void CLoaderEngine::NextFirmwareStep() {
    StepActivity();
    switch (m_firmwareStep) {
    case FW_PROBE:
        m_firmwareStep = FW_MEMORY_ID;
        RequestMemoryId(true);
        break;
    case FW_MEMORY_ID:
        SetStatus("Got Mem ID. Starting firmware memory erase..");
        m_eraseSector = FIRMWARE_FIRST_SECTOR;
        m_firmwareStep = FW_ERASE;
        SendEraseFirmwareSector(FIRMWARE_FIRST_SECTOR);
        m_stepDescription = "Erasing firmware sector 6 (first sector)";
        ArmTimer(TIMER_ERASE, TIMER_ERASE_MS);
        m_host.PhaseStarted(PHASE_ERASE, FIRMWARE_FIRST_SECTOR, m_firmwareLastSector);
        break;
    case FW_ERASE:
        EraseNext(m_firmwareStep, m_firmwareLastSector, AREA_FIRMWARE);
        break;
    case FW_PROGRAM_INDEX:
    case FW_DATA:
        DataStep(m_firmwareStep, &CLoaderEngine::SendFirmwareData, "Sending firmware data",
                 FIRMWARE_INITIAL_ESTIMATE);
        break;
    case FW_LAST_CHUNK:
        SetStatus("Sending firmware checksum query");
        SendChecksumQuery(m_programIndex + 8);
        m_firmwareStep = FW_CHECKSUM;
        break;
    case FW_CHECKSUM:
        SetStatus("Sending valid data firmware index");
        SendSetProgramIndex(m_programIndex);
        m_firmwareStep = FW_VALID_INDEX;
        break;
    case FW_VALID_INDEX:
        SetStatus("Sending VALID data");
        SendValidData();
        m_firmwareStep = FW_VALID_DATA;
        break;
    case FW_VALID_DATA:
        SetStatus("Sending EXECUTE command");
        SendExecute();
        m_firmwareStep = FW_EXECUTE;
        break;
    case FW_EXECUTE:
        CompleteUpdate("Firmare update complete");
        break;
    }
}

void CLoaderEngine::NextScreensStep() {
    StepActivity();
    switch (m_screensStep) {
    case SCR_PROBE:
        m_screensStep = SCR_MEMORY_ID;
        RequestMemoryId(false);
        break;
    case SCR_MEMORY_ID:
        SetStatus("Got Mem ID. Starting screen memory erase..");
        m_programIndex = 0;
        m_eraseSector = SCREENS_FIRST_SECTOR;
        m_screensStep = SCR_ERASE;
        SendEraseScreensSector(SCREENS_FIRST_SECTOR);
        m_stepDescription = "Erasing screens sector 1";
        ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
        m_host.PhaseStarted(PHASE_ERASE, SCREENS_FIRST_SECTOR, m_screensLastSector);
        break;
    case SCR_ERASE:
        EraseNext(m_screensStep, m_screensLastSector, AREA_SCREENS);
        break;
    case SCR_PROGRAM_INDEX:
    case SCR_DATA:
        DataStep(m_screensStep, &CLoaderEngine::SendScreensData, "Sending screens data", SCREENS_INITIAL_ESTIMATE);
        break;
    case SCR_LAST_CHUNK:
        CompleteUpdate("Screens update complete");
        break;
    }
}

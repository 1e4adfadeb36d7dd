// The firmware and screens update sequences: one step per keypad reply.
#include <cstdio>

#include "../image/file_steps.h"
#include "../link/messages.h"
#include "loader_engine.h"

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

void CLoaderEngine::OnUpdateFirmware() {
    if (!IsBusy() && LoadFirmwareFile()) StartFirmwareUpdate();
}

void CLoaderEngine::OnUpdateScreens() {
    if (!IsBusy() && LoadScreensFile()) StartScreensUpdate();
}

int CLoaderEngine::LoadFirmwareFile() {
    if (IsBusy()) return 0;
    ResetActivity();
    return OpenFirmwareFile(m_host, *this, m_image, m_firmwarePath);
}

int CLoaderEngine::LoadScreensFile() {
    if (IsBusy()) return 0;
    ResetActivity();
    return OpenScreensFile(m_host, *this, m_image, m_screensPath);
}

void CLoaderEngine::StartFirmwareUpdate() {
    if (!ConfirmErase(QUESTION_ERASE_FIRMWARE, MODE_FIRMWARE)) return;
    m_firmwareStep = 0;
    SendProbe();
}

void CLoaderEngine::StartScreensUpdate() {
    if (!ConfirmErase(QUESTION_ERASE_SCREENS, MODE_SCREENS)) return;
    m_screensStep = 0;
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
    m_host.SetProgressRange(0, m_firmwareLastSector);
    m_host.SetProgressPos(0);
    FirmwareStep();
}

void CLoaderEngine::OnScreensMemoryId() {
    StopTimer(TIMER_REPLY);
    ReadScreensFields();
    if (RefuseMemoryId(m_screensLastSector < SCREENS_FIRST_SECTOR)) return;
    m_host.SetProgressRange(0, m_screensLastSector);
    m_host.SetProgressPos(0);
    ScreensStep();
}

// The reply to one erase: show it, then erase the next sector or, past the
// last, set the programming index. Both guard timers stop: a resend armed
// TIMER_REPLY, which would otherwise fire early against the next erase.
void CLoaderEngine::EraseNext(int& step, int lastSector, uint8_t area) {
    bool firmware = area == AREA_FIRMWARE;
    StopTimer(TIMER_ERASE);
    StopTimer(TIMER_REPLY);
    m_host.SetProgressPos(m_eraseSector);
    if (++m_eraseSector > lastSector) {
        SetStatus("Setting Programming index");
        step = 3;
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

// Step 3 sends the first chunk and starts the data phase; step 4 sends each
// next one. The step becomes 4 before the first chunk goes, so the builder's
// change after the last chunk is the one that stands.
void CLoaderEngine::DataStep(int& step, void (CLoaderEngine::*sendChunk)(), const char* status,
                             int initialEstimate) {
    if (step == 3) {
        SetStatus(status);
        step = 4;
        m_dataPosition = 0;
        (this->*sendChunk)();
        StartDataPhase(initialEstimate);
        m_host.SetProgressRange(0, 100);
        m_host.SetProgressPos(0);
        return;
    }
    (this->*sendChunk)();
    UpdateTimeEstimate();
    ShowPercentSent();
}

void CLoaderEngine::ShowPercentSent() {
    double percent = 100.0 * m_dataPosition / m_image.Length();
    m_host.SetProgressPos(static_cast<uint8_t>(percent));
}

void CLoaderEngine::FirmwareStep() {
    StepActivity();
    switch (m_firmwareStep) {
    case 0:
        m_firmwareStep = 1;
        RequestMemoryId(true);
        break;
    case 1:
        SetStatus("Got Mem ID. Starting firmware memory erase..");
        m_eraseSector = FIRMWARE_FIRST_SECTOR;
        m_firmwareStep = 2;
        SendEraseFirmwareSector(FIRMWARE_FIRST_SECTOR);
        m_stepDescription = "Erasing firmware sector 6 (first sector)";
        ArmTimer(TIMER_ERASE, TIMER_ERASE_MS);
        m_host.SetProgressShowText(true);
        break;
    case 2:
        EraseNext(m_firmwareStep, m_firmwareLastSector, AREA_FIRMWARE);
        break;
    case 3:
    case 4:
        DataStep(m_firmwareStep, &CLoaderEngine::SendFirmwareData, "Sending firmware data",
                 FIRMWARE_INITIAL_ESTIMATE);
        break;
    case 5:
        SetStatus("Sending firmware checksum query");
        SendChecksumQuery(m_programIndex + 8);
        m_firmwareStep = 6;
        break;
    case 6:
        SetStatus("Sending valid data firmware index");
        SendSetProgramIndex(m_programIndex);
        m_firmwareStep = 7;
        break;
    case 7:
        SetStatus("Sending VALID data");
        SendValidData();
        m_firmwareStep = 8;
        break;
    case 8:
        SetStatus("Sending EXECUTE command");
        SendExecute();
        m_firmwareStep = 9;
        break;
    case 9:
        CompleteUpdate("Firmare update complete");
        break;
    default:
        break;
    }
}

void CLoaderEngine::ScreensStep() {
    StepActivity();
    switch (m_screensStep) {
    case 0:
        m_screensStep = 1;
        RequestMemoryId(false);
        break;
    case 1:
        SetStatus("Got Mem ID. Starting screen memory erase..");
        m_programIndex = 0;
        m_eraseSector = SCREENS_FIRST_SECTOR;
        m_screensStep = 2;
        SendEraseScreensSector(SCREENS_FIRST_SECTOR);
        m_stepDescription = "Erasing screens sector 1";
        ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
        m_host.SetProgressShowText(true);
        break;
    case 2:
        EraseNext(m_screensStep, m_screensLastSector, AREA_SCREENS);
        break;
    case 3:
    case 4:
        DataStep(m_screensStep, &CLoaderEngine::SendScreensData, "Sending screens data", SCREENS_INITIAL_ESTIMATE);
        break;
    case 9:
        CompleteUpdate("Screens update complete");
        break;
    default:
        break;  // steps 5 to 8 do not occur in a screens update
    }
}

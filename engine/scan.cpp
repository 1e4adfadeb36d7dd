// A scan: is a keypad there, and what does it report? The connection test,
// then both Memory ID records; nothing is erased or written.
#include "loader_engine.h"

void CLoaderEngine::OnScanKeypad() {
    if (IsBusy()) return;
    SetStatus("Checking for connected ORBIX");
    m_scanStep = 0;
    BeginOperation(MODE_SCAN);
    SendProbe();
}

void CLoaderEngine::ScanStep() {
    StopTimer(TIMER_REPLY);
    switch (m_scanStep) {
    case 0:
        m_scanStep = 1;
        SendGetFirmwareMemoryId();
        m_stepDescription = "Getting firmware memory ID";
        ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
        break;
    case 1:
        ReadFirmwareFields();
        m_scanStep = 2;
        SendGetScreensMemoryId();
        m_stepDescription = "Getting screen memory ID";
        ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
        break;
    default:
        ReadScreensFields();
        Finish("ORBIX detected!", OUTCOME_SUCCESS);
        break;
    }
}

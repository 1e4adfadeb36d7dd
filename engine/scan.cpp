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
        RequestMemoryId(true);
        break;
    case 1:
        ReadFirmwareFields();
        m_scanStep = 2;
        RequestMemoryId(false);
        break;
    default:
        ReadScreensFields();
        Finish("ORBIX detected!", OUTCOME_SUCCESS);
        break;
    }
}

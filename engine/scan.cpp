// A scan: is a keypad there, and what does it report? The connection test,
// then both Memory ID records; nothing is erased or written.
#include "loader_engine.h"

void CLoaderEngine::OnScanKeypad() {
    if (IsBusy()) return;
    SetStatus("Checking for connected ORBIX");
    m_scanStep = SCAN_PROBE;
    BeginOperation(MODE_SCAN);
    SendProbe();
}

void CLoaderEngine::NextScanStep() {
    StopTimer(TIMER_REPLY);
    switch (m_scanStep) {
    case SCAN_PROBE:
        m_scanStep = SCAN_FIRMWARE_ID;
        RequestMemoryId(true);
        break;
    case SCAN_FIRMWARE_ID:
        ReadFirmwareFields();
        m_scanStep = SCAN_SCREENS_ID;
        RequestMemoryId(false);
        break;
    case SCAN_SCREENS_ID:
        ReadScreensFields();
        Finish("ORBIX detected!", OUTCOME_SUCCESS);
        break;
    }
}

#include "loader_engine.h"

#include "../link/messages.h"

CLoaderEngine::CLoaderEngine(ILoaderHost& host) : m_host(host), m_sender(host), m_parser(*this) {}

void CLoaderEngine::SetStatus(const std::string& text) {
    m_statusText = text;
    m_host.ShowStatus(m_statusText);
}

void CLoaderEngine::UpdateBusyState() { m_host.ShowBusy(m_mode != MODE_IDLE); }

void CLoaderEngine::StepActivity() {
    if (++m_activityCount > ACTIVITY_MAX) m_activityCount = 0;
    m_host.SetActivityPos(m_activityCount);
}

void CLoaderEngine::ResetActivity() {
    m_activityCount = 0;
    m_host.SetActivityPos(0);
}

void CLoaderEngine::SendNewFrame() {
    if (m_sender.SendNewFrame()) m_retryCount = 0;
}

void CLoaderEngine::Finish(const std::string& statusText, LoaderOutcome outcome) {
    SetStatus(statusText);
    m_outcome = outcome;
    m_mode = MODE_IDLE;
    UpdateBusyState();
}

void CLoaderEngine::OnTestConnection() {
    if (IsBusy()) return;
    SetStatus("Checking for connected ORBIX");
    m_outcome = OUTCOME_NONE;
    m_mode = MODE_TEST;
    UpdateBusyState();
    SendProbe();
}

void CLoaderEngine::SendProbe() {
    SetStatus("Checking for device..");
    m_sender.BeginMessage();
    AppendSync(m_sender);
    m_host.SetBreak(true);
    m_host.Sleep(100);
    m_host.SetBreak(false);
    m_host.Sleep(100);
    SendNewFrame();
    m_host.SetTimer(TIMER_CONNECT, TIMER_CONNECT_MS);
}

void CLoaderEngine::DispatchReply(const uint8_t* payload, int /*length*/) {
    switch (payload[0]) {
    case RSP_ACK:
        OnAckReply();
        break;
    case RSP_OK:
        OnOkReply();
        break;
    case RSP_MEM_ID:
        if (m_mode == MODE_SCREENS) OnScreensMemoryId();
        else if (m_mode == MODE_FIRMWARE) OnFirmwareMemoryId();
        break;
    case RSP_FAILED:
        OnFailedReply();
        break;
    default:
        break;  // unknown codes leave every timer running
    }
}

void CLoaderEngine::OnAckReply() {
    m_host.KillTimer(TIMER_CONNECT);
    switch (m_mode) {
    case MODE_TEST:
        Finish("ORBIX detected!", OUTCOME_SUCCESS);
        break;
    case MODE_FIRMWARE:
        // Step 9: the keypad may answer the execute command with ACK.
        if (m_firmwareStep == 0 || m_firmwareStep == 9) FirmwareStep();
        break;
    case MODE_SCREENS:
        if (m_screensStep == 0) ScreensStep();
        break;
    default:
        break;
    }
}

void CLoaderEngine::OnOkReply() {
    if (m_mode == MODE_SCREENS) ScreensStep();
    else if (m_mode == MODE_FIRMWARE) FirmwareStep();
}

void CLoaderEngine::OnFailedReply() {
    bool wasBusy = IsBusy();
    SetStatus("Got \"Failed\" back from keypad.");
    if (wasBusy) m_outcome = OUTCOME_FAILED;
    m_mode = MODE_IDLE;
    m_host.KillTimer(TIMER_CONNECT);
    m_host.KillTimer(TIMER_REPLY);
    m_host.KillTimer(TIMER_ERASE);
    UpdateBusyState();
}

void CLoaderEngine::OnTimer(int id) {
    // A host that ends the operation from inside one of the engine's own
    // writes (a port lost mid-frame) can leave a reply timer armed behind it;
    // once idle, such an expiry must not send anything.
    if (!IsBusy() && id != TIMER_COUNTDOWN) {
        m_host.KillTimer(id);
        return;
    }
    switch (id) {
    case TIMER_REPLY:
    case TIMER_ERASE:
        m_host.KillTimer(id);
        RetryCommand();
        break;
    case TIMER_CONNECT:
        m_host.KillTimer(id);
        RetryProbe();
        break;
    case TIMER_COUNTDOWN:
        OnCountdownTick();
        break;
    default:
        break;
    }
}

void CLoaderEngine::RetryProbe() {
    if (++m_retryCount > 3) {
        Finish("Connecting: No response from ORBIX", OUTCOME_FAILED);
        return;
    }
    m_sender.ResendFrame();
    m_host.SetTimer(TIMER_CONNECT, TIMER_CONNECT_MS);
}

void CLoaderEngine::RetryCommand() {
    if (++m_retryCount > 3) {
        Finish("Timed out " + m_stepDescription, OUTCOME_FAILED);
        return;
    }
    // A resent erase waits 500 ms too, not the first erase's 6000 ms.
    m_sender.ResendFrame();
    m_host.SetTimer(TIMER_REPLY, TIMER_REPLY_MS);
}

void CLoaderEngine::OnOK() {
    if (IsBusy()) EndOperation("Operation aborted.", OUTCOME_ABORTED);
    else m_host.CloseWindow();
}

void CLoaderEngine::EndOperation(const std::string& statusText, LoaderOutcome outcome) {
    if (!IsBusy()) return;
    m_outcome = outcome;
    m_mode = MODE_IDLE;
    // The countdown keeps running: its next tick sees idle and shows "---".
    m_host.KillTimer(TIMER_CONNECT);
    m_host.KillTimer(TIMER_REPLY);
    m_host.KillTimer(TIMER_ERASE);
    UpdateBusyState();
    SetStatus(statusText);
}

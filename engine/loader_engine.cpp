#include "loader_engine.h"

#include "../link/messages.h"

CLoaderEngine::CLoaderEngine(ILoaderHost& host) : m_host(host), m_sender(host), m_parser(*this) {}

void CLoaderEngine::SetStatus(const std::string& text) {
    m_statusText = text;
    m_host.ShowStatus(m_statusText);
}

void CLoaderEngine::UpdateBusyState() { m_host.BusyChanged(m_mode != MODE_IDLE); }

void CLoaderEngine::StepActivity() {
    if (++m_activityCount > ACTIVITY_MAX) m_activityCount = 0;
    m_host.ActivityMoved(m_activityCount);
}

void CLoaderEngine::ResetActivity() {
    m_activityCount = 0;
    m_host.ActivityMoved(0);
}

void CLoaderEngine::SendNewFrame() {
    if (!m_sender.SendNewFrame()) return;
    m_retryCount = 0;
    ++m_framesWritten;
}

void CLoaderEngine::ResendFrame() {
    m_sender.ResendFrame();
    ++m_framesWritten;
}

void CLoaderEngine::ArmTimer(int id, int periodMs) {
    m_armedTimers |= 1u << id;
    m_host.SetTimer(id, periodMs);
}

void CLoaderEngine::StopTimer(int id) {
    m_armedTimers &= ~(1u << id);
    m_host.KillTimer(id);
}

void CLoaderEngine::StopReplyTimers() {
    StopTimer(TIMER_CONNECT);
    StopTimer(TIMER_REPLY);
    StopTimer(TIMER_ERASE);
    StopTimer(TIMER_SETTLE);
    StopTimer(TIMER_STALL);
}

void CLoaderEngine::BeginOperation(LoaderMode mode) {
    m_outcome = OUTCOME_NONE;
    m_mode = mode;
    m_framesWritten = 0;
    m_repliesReceived = 0;
    m_eraseSent = false;
    m_firmwareIdRead = false;
    m_screensIdRead = false;
    m_heldCompletion.clear();
    UpdateBusyState();
}

void CLoaderEngine::GoIdle(LoaderOutcome outcome) {
    m_outcome = outcome;
    m_mode = MODE_IDLE;
    m_heldCompletion.clear();
    StopReplyTimers();
    UpdateBusyState();
    m_host.OperationEnded(outcome);
}

void CLoaderEngine::Finish(const std::string& statusText, LoaderOutcome outcome) {
    SetStatus(statusText);
    GoIdle(outcome);
}

void CLoaderEngine::OnTestConnection() {
    if (IsBusy()) return;
    SetStatus("Checking for connected ORBIX");
    BeginOperation(MODE_TEST);
    SendProbe();
}

void CLoaderEngine::SendProbe() {
    SetStatus("Checking for device..");
    m_sender.BeginMessage();
    AppendSync(m_sender);
    WakeKeypad([this](bool on) { m_host.SetBreak(on); }, [this](int ms) { m_host.Sleep(ms); });
    SendNewFrame();
    ArmTimer(TIMER_CONNECT, TIMER_CONNECT_MS);
}

void CLoaderEngine::DispatchReply(const uint8_t* payload, int /*length*/) {
    ++m_repliesReceived;
    if (!m_heldCompletion.empty()) {
        SettleReply(payload[0]);
    } else {
        switch (payload[0]) {
        case RSP_ACK:
            OnAckReply();
            break;
        case RSP_OK:
            OnOkReply();
            break;
        case RSP_MEM_ID:
            // Only the request's own answer: a late or repeated record must
            // not run an erase step.
            if (m_mode == MODE_SCREENS && m_screensStep == SCR_MEMORY_ID) OnScreensMemoryId();
            else if (m_mode == MODE_FIRMWARE && m_firmwareStep == FW_MEMORY_ID) OnFirmwareMemoryId();
            else if (m_mode == MODE_SCAN && m_scanStep != SCAN_PROBE) NextScanStep();
            break;
        case RSP_FAILED:
            OnFailedReply();
            break;
        default:
            break;  // unknown codes leave every timer running
        }
    }
    RefreshStallGuard(true);
}

void CLoaderEngine::OnAckReply() {
    StopTimer(TIMER_CONNECT);
    switch (m_mode) {
    case MODE_TEST:
        Finish("ORBIX detected!", OUTCOME_SUCCESS);
        break;
    case MODE_SCAN:
        if (m_scanStep == SCAN_PROBE) NextScanStep();
        break;
    case MODE_FIRMWARE:
        // The keypad may answer the execute command with ACK.
        if (m_firmwareStep == FW_PROBE || m_firmwareStep == FW_EXECUTE) NextFirmwareStep();
        break;
    case MODE_SCREENS:
        if (m_screensStep == SCR_PROBE) NextScreensStep();
        break;
    default:
        break;
    }
}

void CLoaderEngine::OnOkReply() {
    // The Memory ID step waits for a Memory ID record: an OK there answers
    // something else, and the reply timer goes on as for a lost reply.
    if (m_mode == MODE_SCREENS && m_screensStep != SCR_MEMORY_ID) NextScreensStep();
    else if (m_mode == MODE_FIRMWARE && m_firmwareStep != FW_MEMORY_ID) NextFirmwareStep();
}

void CLoaderEngine::OnFailedReply() {
    LoaderOutcome outcome = IsBusy() ? OUTCOME_FAILED : m_outcome;
    Finish("Got \"Failed\" back from keypad.", outcome);
}

void CLoaderEngine::CompleteUpdate(const char* statusText) {
    m_heldCompletion = statusText;
    AwaitOwedReplies();
}

// Ends the held completion once nothing is owed; else waits (again) for the rest.
void CLoaderEngine::AwaitOwedReplies() {
    if (m_framesWritten > m_repliesReceived) ArmTimer(TIMER_SETTLE, TIMER_SETTLE_MS);
    else EndHeldCompletion();
}

void CLoaderEngine::SettleReply(uint8_t code) {
    switch (code) {
    case RSP_FAILED:
        OnFailedReply();
        break;
    case RSP_OK:
    case RSP_ACK:
    case RSP_MEM_ID:
        AwaitOwedReplies();
        break;
    default:
        break;
    }
}

void CLoaderEngine::EndHeldCompletion() {
    std::string text = m_heldCompletion;
    Finish(text, OUTCOME_SUCCESS);
    ResetActivity();
}

void CLoaderEngine::OnTimer(int id) {
    // A host that ends the operation from inside one of the engine's own
    // writes (a port lost mid-frame) can leave a reply timer armed behind it;
    // once idle, such an expiry must not send anything.
    if (!IsBusy() && id != TIMER_COUNTDOWN) {
        StopTimer(id);
        return;
    }
    switch (id) {
    case TIMER_REPLY:
    case TIMER_ERASE:
        StopTimer(id);
        RetryCommand();
        break;
    case TIMER_CONNECT:
        StopTimer(id);
        RetryProbe();
        break;
    case TIMER_COUNTDOWN:
        OnCountdownTick();
        break;
    case TIMER_SETTLE:
        // A lost reply owes nothing more.
        EndHeldCompletion();
        break;
    case TIMER_STALL:
        OnStall();
        break;
    default:
        break;
    }
    RefreshStallGuard(false);
}

void CLoaderEngine::RetryProbe() {
    if (++m_retryCount > 3) {
        Finish("Connecting: No response from ORBIX", OUTCOME_FAILED);
        return;
    }
    ResendFrame();
    ArmTimer(TIMER_CONNECT, TIMER_CONNECT_MS);
}

void CLoaderEngine::RetryCommand() {
    if (++m_retryCount > 3) {
        Finish("Timed out " + m_stepDescription, OUTCOME_FAILED);
        return;
    }
    // A resend always waits 500 ms, also after a first erase's 6000 ms.
    ResendFrame();
    ArmTimer(TIMER_REPLY, TIMER_REPLY_MS);
}

void CLoaderEngine::Abort() { EndOperation("Operation aborted.", OUTCOME_ABORTED); }

void CLoaderEngine::EndOperation(const std::string& statusText, LoaderOutcome outcome) {
    if (!IsBusy()) return;
    // The countdown keeps running: its next tick sees idle and shows "---".
    GoIdle(outcome);
    SetStatus(statusText);
}

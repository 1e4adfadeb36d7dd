#include "keypad_session.h"

#include <QDateTime>
#include <cstdio>

#include "bench_profile.h"
#include "serial/port_factory.h"

CKeypadSession::CKeypadSession(const SessionRequest& request, ISessionSink& view, ISessionPolicy& policy)
    : CQtLoaderHost(true), m_request(request), m_policy(policy), m_view(view), m_file(request.image) {
    m_clock.start();
    m_engine.SetStallGuard(request.stallTimeoutSeconds, true);
    m_binding.onReceived = [this](const QByteArray& bytes) {
        Trace("<-", reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
    };
}

bool CKeypadSession::OpenPort(const std::string& simulatedDevice) {
    if (std::optional<PortSpec> port = RequestedPort(m_request, simulatedDevice)) m_binding.SetPortOverride(*port);
    if (!m_binding.OpenComPort()) {
        // Where the window shows its box: "not available", then why.
        Fail(m_binding.NotAvailableText());
        m_engine.SetStatus(m_binding.NotAvailableText());
        Fail(m_binding.OpenFailureReason());
        m_portRefused = true;
        StopFor(STOP_REFUSED);
        return false;
    }
    const std::string& device = m_binding.PortInUse().device;
    if (!m_binding.LowLatency() && CapabilitiesOf(device).asksLowLatency && !m_request.quiet)
        m_view.NoLowLatency(device);
    m_engine.ResetSender();
    return true;
}

// The file is read and checked before the port is touched, so a bad file
// sends nothing at all.
bool CKeypadSession::LoadFile() {
    if (m_request.command != KEYPAD_FIRMWARE && m_request.command != KEYPAD_SCREENS) return true;
    FileStepResult result =
        m_request.command == KEYPAD_FIRMWARE ? m_engine.LoadFirmwareFile() : m_engine.LoadScreensFile();
    // What the window puts on its status line is a status here too; a refusal
    // it shows in a box is only an error.
    if (result.IsStatusText())
        m_engine.SetStatus(result.text);
    else if (!result.text.empty())
        Fail(result.text);
    if (result.Accepted()) return true;
    if (Interrupted()) return false;
    if (!m_reasonGiven) Fail(m_engine.StatusText());
    if (!m_fileProblem.empty()) m_view.Error(m_request.file + ": " + m_fileProblem);
    StopFor(STOP_REFUSED);
    return false;
}

int CKeypadSession::CheckFileAndAsk() {
    const bool asked = LoadFile() && (m_request.command != KEYPAD_FIRMWARE || AskYesNo(QUESTION_ERASE_FIRMWARE)) &&
                       (m_request.command != KEYPAD_SCREENS || AskYesNo(QUESTION_ERASE_SCREENS));
    return asked && !Interrupted() ? EXIT_OK : ExitCode();
}

void CKeypadSession::Start() {
    switch (m_request.command) {
        case KEYPAD_TEST:
            m_engine.OnTestConnection();
            break;
        case KEYPAD_SCAN:
            m_engine.OnScanKeypad();
            break;
        case KEYPAD_FIRMWARE:
            m_engine.StartFirmwareUpdate();
            break;
        case KEYPAD_SCREENS:
            m_engine.StartScreensUpdate();
            break;
    }
}

void CKeypadSession::StopFor(StopReason reason) {
    if (reason == STOP_INTERRUPTED || m_stop == STOP_NONE) m_stop = reason;
}

// A Ctrl-C that came while the file was read or the port opened stops the
// command before anything is sent.
bool CKeypadSession::Interrupted() {
    if (m_stop != STOP_INTERRUPTED) {
        if (int code = m_policy.PendingInterrupt()) {
            m_interruptExit = code;
            StopFor(STOP_INTERRUPTED);
        }
    }
    return m_stop == STOP_INTERRUPTED;
}

int CKeypadSession::StoppedBeforeSending() {
    if (!m_reasonGiven) Fail("Interrupted before anything was sent.");
    return 0;
}

int CKeypadSession::Run(const std::string& simulatedDevice) {
    m_startMs = QDateTime::currentMSecsSinceEpoch();
    m_clock.restart();
    // \\.\COM12 is recorded as COM12, the name Windows lists it under.
    m_portLabel = simulatedDevice.empty() ? PlainComName(m_request.port) : simulatedDevice;
    if (LoadFile() && !Interrupted() && OpenPort(simulatedDevice) && !Interrupted()) {
        Start();
        if (m_engine.IsBusy())
            m_loop.exec();
        else
            StopFor(STOP_REFUSED);  // the question stopped it: nothing was sent
        m_view.Finish();
    } else if (Interrupted()) {
        StoppedBeforeSending();  // also Ctrl-C while a network port connected
    }
    m_exitCode = ExitCode();
    ReportEnd(m_exitCode);
    m_seconds = m_clock.nsecsElapsed() / 1e9;
    return m_exitCode;
}

SessionResult CKeypadSession::Result() const {
    SessionResult r;
    r.port = m_portLabel.empty() ? PortLabel(m_binding.PortInUse()) : m_portLabel;
    r.command = KeypadCommandWord(m_request.command);
    if (m_request.command == KEYPAD_FIRMWARE || m_request.command == KEYPAD_SCREENS) {
        r.file = m_chosenPath;
        r.sha256 = m_file ? m_file->sha256 : "";
    }
    r.imageLength = m_engine.Image().Length();
    r.bytesSent = m_engine.DataPosition();
    r.exitCode = m_exitCode;
    r.lastText = m_engine.StatusText();
    r.portGone = m_portRefused || m_engine.Outcome() == OUTCOME_PORT_LOST;
    r.firmwareIdRead = m_engine.FirmwareIdRead();
    r.screensIdRead = m_engine.ScreensIdRead();
    r.firmwareLastSector = m_engine.FirmwareLastSector();
    r.screensLastSector = m_engine.ScreensLastSector();
    r.programIndex = m_engine.ProgramIndex();
    r.tagValue = m_engine.TagValue();
    r.startMs = m_startMs;
    r.seconds = m_seconds;
    return r;
}

int CKeypadSession::ExitCode() const {
    switch (m_stop) {
        case STOP_INTERRUPTED:
            return m_interruptExit;
        case STOP_REFUSED:
            return EXIT_USAGE;
        case STOP_DECLINED:
            return EXIT_FAILED;
        case STOP_NONE:
            break;
    }
    if (m_engine.Outcome() == OUTCOME_SUCCESS) return EXIT_OK;
    return m_engine.EraseSent() ? EXIT_INCOMPLETE : EXIT_FAILED;
}

// Every failure says why once on stderr; one that came after an erase also
// says what state the keypad is left in.
void CKeypadSession::ReportEnd(int code) {
    if (code == EXIT_OK) return;
    if (!m_reasonGiven && !m_engine.StatusText().empty()) Fail(m_engine.StatusText());
    if (code == EXIT_USAGE || !m_engine.EraseSent()) return;
    // The Valid data record was acknowledged and only the execute reply is missing.
    if (m_request.command == KEYPAD_FIRMWARE && m_engine.CurrentFirmwareStep() == FW_EXECUTE)
        m_view.Error(
            "The keypad accepted the firmware but did not confirm the restart: power it off and on, then "
            "test the connection.");
    else
        m_view.Error(HoldsNoValidText(m_request.command));
}

void CKeypadSession::Fail(const std::string& reason) {
    m_view.Error(reason);
    m_reasonGiven = true;
}

void CKeypadSession::Interrupt(int exitCode) {
    m_interruptExit = exitCode;
    StopFor(STOP_INTERRUPTED);
    m_binding.CancelOpen();
    if (m_engine.IsBusy())
        m_engine.Abort();  // its OperationEnded ends the loop
    else
        m_loop.quit();
}

void CKeypadSession::OperationEnded(LoaderOutcome) {
    QTimer::singleShot(0, this, [this] { m_loop.quit(); });
}

// The views count sectors while erasing, then percent sent.
void CKeypadSession::PhaseStarted(UpdatePhase phase, int, int last) {
    m_phase = phase;
    if (phase == PHASE_DATA) {
        m_rate.Begin(m_clock.elapsed(), static_cast<int>(m_engine.DataPosition()));
        m_remaining.clear();
        m_view.BeginDataPhase();
    }
    m_view.Range(0, phase == PHASE_DATA ? 100 : last);
    m_view.Position(0);
}

void CKeypadSession::Progress(int position, int last) {
    if (m_phase != PHASE_DATA) {
        m_view.Position(position);
        return;
    }
    // The figure first, so a line that reports the percentage carries it.
    std::string remaining = RemainingText(m_rate.Update(m_clock.elapsed(), position, last));
    if (remaining != m_remaining) m_view.TimeRemaining(m_remaining = remaining);
    m_view.Position(PercentSent(position, last));
}

void CKeypadSession::WriteFrameToPort(const uint8_t* data, int count) {
    CQtLoaderHost::WriteFrameToPort(data, count);
    Trace("->", data, count);
}

int CKeypadSession::ChooseFile(const FileDialogSpec&, std::string& chosenPath) {
    chosenPath = RecordedPath(m_request.file);
    m_chosenPath = chosenPath;
    return 1;
}

int CKeypadSession::AcceptDamagedFile(const std::string& question) {
    ISessionPolicy::Reply reply = m_policy.AcceptDamagedFile(question);
    if (!reply.note.empty()) m_view.Error(reply.note);
    return reply.answer == ISessionPolicy::ANSWER_YES;
}

// Every keypad of a run shares the bytes read once; read here or before, they
// are held to their kind's limit and to the image pinned, which no caller can skip.
FileReadResult CKeypadSession::ReadChosenFile(const std::string& path, uint64_t limit, FileBytes& bytes,
                                              uint64_t& fileLength) {
    if (!m_file) {
        auto file = std::make_shared<CImageFile>();
        FileReadResult result =
            ReadImageFile(path, limit, *file, fileLength, m_fileProblem, [this] { return Interrupted(); });
        bytes = file->bytes;
        if (result != FILE_READ_OK) return result;
        m_file = std::move(file);
    }
    bytes = m_file->bytes;
    fileLength = bytes->size();
    if (fileLength > limit) return FILE_TOO_LARGE;
    // Not the image pinned: refused before anything is made of it, the record naming the one found.
    std::string reason;
    if (!m_request.expectedSha256.empty() &&
        !CheckPinnedImage(*m_file, m_request.file, m_request.expectedSha256, reason)) {
        Fail(reason);
        return FILE_READ_STOPPED;
    }
    return FILE_READ_OK;
}

int CKeypadSession::AskYesNo(const std::string& text) {
    if (Interrupted()) return StoppedBeforeSending();
    if (m_request.yes) return 1;
    ISessionPolicy::Reply reply = m_policy.ConfirmErase(text);
    if (Interrupted()) return StoppedBeforeSending();
    if (reply.answer == ISessionPolicy::ANSWER_YES) return 1;
    StopFor(reply.answer == ISessionPolicy::ANSWER_NONE ? STOP_REFUSED : STOP_DECLINED);
    Fail(reply.note);
    return 0;
}

void CKeypadSession::Trace(const char* direction, const uint8_t* data, int count) {
    if (!m_request.trace || count <= 0) return;
    char text[32];
    std::snprintf(text, sizeof text, "[%10.3f] %s", m_clock.nsecsElapsed() / 1e6, direction);
    std::string line = text;
    // By hand, not a printf a byte: many keypads trace a few thousand frames a second.
    static const char HEX[] = "0123456789ABCDEF";
    line.reserve(line.size() + 3 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) line += {' ', HEX[data[i] >> 4], HEX[data[i] & 15]};
    m_view.Trace(line);
}

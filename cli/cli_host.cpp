#include "cli_host.h"

#include "interrupts.h"

#include <unistd.h>

#include <QDateTime>
#include <QThread>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

CCliHost::CCliHost(const CliOptions& options, ISessionSink& view)
    : m_options(options),
      m_engine(*this),
      m_settings(true),
      m_binding(m_engine, *this),
      m_timers([this](int id) { m_engine.OnTimer(id); }),
      m_view(view),
      m_file(options.image) {
    m_clock.start();
    m_engine.SetStallGuard(options.stallTimeoutSeconds, true);
    m_binding.onReceived = [this](const QByteArray& bytes) {
        Trace("<-", reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
    };
}

int CCliHost::OpenPort(const std::string& simulatedDevice) {
    if (!simulatedDevice.empty()) {
        m_binding.SetPortOverride({0, simulatedDevice});
    } else if (!m_options.port.empty()) {
        PortSpec port;
        ParsePortArgument(m_options.port, port);  // checked with the other options
        m_binding.SetPortOverride(port);
    }
    if (!m_binding.OpenComPort()) {
        // "not available" is on stderr already (the box); this says why.
        Fail(m_binding.OpenFailureReason());
        return EXIT_USAGE;
    }
    const std::string& device = m_binding.PortInUse().device;
    std::error_code ec;
    bool pseudoTerminal = std::filesystem::canonical(device, ec).string().rfind("/dev/pts/", 0) == 0;
    if (!m_binding.Comm().LowLatency() && !pseudoTerminal && !m_options.quiet)
        m_view.Trace("orbix-flash: note: " + device + " does not offer low-latency mode; transfers may be slower");
    m_engine.ResetSender();
    return EXIT_OK;
}

// The file is read and checked before the port is touched, so a bad file
// sends nothing at all.
int CCliHost::LoadFile() {
    int loaded = 1;
    if (m_options.command == CLI_FIRMWARE) loaded = m_engine.LoadFirmwareFile();
    else if (m_options.command == CLI_SCREENS) loaded = m_engine.LoadScreensFile();
    if (loaded) return EXIT_OK;
    if (Interrupted()) return m_interruptExit;
    if (!m_reasonGiven) Fail(m_engine.StatusText());
    if (!m_fileProblem.empty()) m_view.Error(m_options.file + ": " + m_fileProblem);
    return EXIT_USAGE;
}

int CCliHost::CheckFileAndAsk() {
    int code = LoadFile();
    if (code != EXIT_OK) return code;
    if (m_options.command == CLI_FIRMWARE && !AskYesNo(QUESTION_ERASE_FIRMWARE)) return ExitCode();
    if (m_options.command == CLI_SCREENS && !AskYesNo(QUESTION_ERASE_SCREENS)) return ExitCode();
    return Interrupted() ? m_interruptExit : EXIT_OK;
}

void CCliHost::Start() {
    switch (m_options.command) {
    case CLI_TEST:
        m_engine.OnTestConnection();
        break;
    case CLI_SCAN:
        m_engine.OnScanKeypad();
        break;
    case CLI_FIRMWARE:
        m_engine.StartFirmwareUpdate();
        break;
    case CLI_SCREENS:
        m_engine.StartScreensUpdate();
        break;
    default:
        break;
    }
}

// A Ctrl-C that came while the file was read or the port opened stops the
// command before anything is sent.
int CCliHost::Interrupted() {
    if (!m_interruptExit && g_interruptSignal) m_interruptExit = 128 + g_interruptSignal;
    return m_interruptExit;
}

int CCliHost::StoppedBeforeSending() {
    if (!m_reasonGiven) Fail("Interrupted before anything was sent.");
    return 0;
}

int CCliHost::Run(const std::string& simulatedDevice) {
    m_startMs = QDateTime::currentMSecsSinceEpoch();
    m_clock.restart();
    m_portLabel = simulatedDevice.empty() ? m_options.port : simulatedDevice;
    int code = LoadFile();
    if (code == EXIT_OK && !Interrupted()) {
        code = OpenPort(simulatedDevice);
        if (code != EXIT_OK && Interrupted()) code = m_interruptExit;  // Ctrl-C while a network port connected
    }
    if (code == EXIT_OK && !Interrupted()) {
        Start();
        if (m_engine.IsBusy()) m_loop.exec();
        else if (!m_interruptExit && !m_declined) m_refused = true;  // the question stopped it: nothing was sent
        m_view.Finish();
        code = ExitCode();
    } else if (code == EXIT_OK || code == m_interruptExit) {
        StoppedBeforeSending();
        code = m_interruptExit;
    }
    ReportEnd(code);
    m_exitCode = code;
    m_seconds = m_clock.nsecsElapsed() / 1e9;
    return code;
}

SessionResult CCliHost::Result() const {
    SessionResult r;
    r.port = m_portLabel.empty() ? PortLabel(m_binding.PortInUse()) : m_portLabel;
    r.command = CommandWord(m_options.command);
    if (m_options.command == CLI_FIRMWARE || m_options.command == CLI_SCREENS) {
        r.file = m_chosenPath;
        r.sha256 = m_file ? m_file->sha256 : "";
    }
    r.imageLength = m_engine.Image().Length();
    r.bytesSent = m_engine.DataPosition();
    r.exitCode = m_exitCode;
    r.lastText = m_engine.StatusText();
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

int CCliHost::ExitCode() const {
    if (m_interruptExit) return m_interruptExit;
    if (m_refused) return EXIT_USAGE;
    if (m_declined) return EXIT_FAILED;
    if (m_engine.Outcome() == OUTCOME_SUCCESS) return EXIT_OK;
    return m_engine.EraseSent() ? EXIT_INCOMPLETE : EXIT_FAILED;
}

// Every failure says why once on stderr; one that came after an erase also
// says what state the keypad is left in.
void CCliHost::ReportEnd(int code) {
    if (code == EXIT_OK) return;
    if (!m_reasonGiven && !m_engine.StatusText().empty()) Fail(m_engine.StatusText());
    if (code == EXIT_USAGE || !m_engine.EraseSent()) return;
    // Step 9: the Valid data record was acknowledged and only the execute reply is missing.
    const CLoaderEngine& engine = m_engine;
    if (m_options.command == CLI_FIRMWARE && engine.FirmwareStep() == 9)
        m_view.Error("The keypad accepted the firmware but did not confirm the restart: power it off and on, then "
                     "test the connection.");
    else
        m_view.Error(std::string("The keypad holds no valid ") +
                     (m_options.command == CLI_SCREENS ? "screens" : "firmware") +
                     " and stays in its update mode: run the update again.");
}

void CCliHost::Fail(const std::string& reason) {
    m_view.Error(reason);
    m_reasonGiven = true;
}

void CCliHost::Interrupt(int exitCode) {
    m_interruptExit = exitCode;
    m_binding.CancelOpen();
    if (m_engine.IsBusy()) m_engine.OnOK();  // Abort; its ShowBusy(false) ends the loop
    else m_loop.quit();
}

void CCliHost::ShowBusy(bool busy) {
    if (!busy) QTimer::singleShot(0, this, [this] { m_loop.quit(); });
}

void CCliHost::SetProgressRange(int lower, int upper) {
    const CLoaderEngine& engine = m_engine;
    int step = engine.Mode() == MODE_FIRMWARE ? engine.FirmwareStep() : engine.ScreensStep();
    if (step == 4) m_view.BeginDataPhase();  // the data phase's range is set once its first chunk has gone
    m_view.Range(lower, upper);
}

void CCliHost::WriteFrameToPort(const uint8_t* data, int count) {
    m_binding.WriteFrameToPort(data, count);
    Trace("->", data, count);
}

void CCliHost::Sleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

int64_t CCliHost::CurrentTime() { return static_cast<int64_t>(std::time(nullptr)); }

// The name goes on as the bytes it was given: no text conversion could change it.
int CCliHost::ChooseFile(const FileDialogSpec&, std::string& chosenPath) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(m_options.file, ec);
    chosenPath = ec ? m_options.file : absolute.string();
    m_chosenPath = chosenPath;
    return 1;
}

void CCliHost::MessageBox(const std::string& text, MessageIcon) { Fail(text); }

int CCliHost::AcceptDamagedFile(const std::string& question) {
    if (!m_options.force) return 0;
    m_view.Error("warning: " + question + " Yes (--force): installing it as it reads.");
    return 1;
}

// Every keypad of a run shares the bytes read once.
FileReadResult CCliHost::ReadChosenFile(const std::string& path, uint64_t limit, FileBytes& bytes,
                                        uint64_t& fileLength) {
    if (!m_file) {
        auto file = std::make_shared<CImageFile>();
        FileReadResult result = ReadImageFile(path, limit, *file, fileLength, m_fileProblem);
        bytes = file->bytes;
        if (result != FILE_READ_OK) return result;
        m_file = std::move(file);
    }
    bytes = m_file->bytes;
    fileLength = bytes->size();
    return FILE_READ_OK;
}

int CCliHost::AskYesNo(const std::string& text) {
    if (Interrupted()) return StoppedBeforeSending();
    if (m_options.yes) return 1;
    if (!isatty(STDIN_FILENO)) {
        Fail("\"" + text + "\" needs an answer and there is no terminal: run again with --yes to confirm the erase");
        m_refused = true;
        return 0;
    }
    std::printf("%s [y/N] ", text.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    if (Interrupted()) return StoppedBeforeSending();
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return 1;
    m_declined = true;
    Fail("Erase declined. Nothing was changed.");
    return 0;
}

void CCliHost::Trace(const char* direction, const uint8_t* data, int count) {
    if (!m_options.trace || count <= 0) return;
    char text[32];
    std::snprintf(text, sizeof text, "[%10.3f] %s", m_clock.nsecsElapsed() / 1e6, direction);
    std::string line = text;
    // By hand, not a printf a byte: many keypads trace a few thousand frames a second.
    static const char HEX[] = "0123456789ABCDEF";
    line.reserve(line.size() + 3 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) line += {' ', HEX[data[i] >> 4], HEX[data[i] & 15]};
    m_view.Trace(line);
}

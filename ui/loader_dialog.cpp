#include "loader_dialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <utility>

#include "about_dialog.h"
#include "desktop/app_icon.h"
#include "desktop/percent_progress_ctrl.h"
#include "dialog_units.h"
#include "help_dialog.h"
#include "homepage.h"
#include "preferences_dialog.h"
#include "session/port_discovery.h"
#include "session/run_defaults.h"
#include "session/session_request.h"

namespace {

constexpr COLORREF BAR_COLOR = 0x00FF0076;            // red 118, green 0, blue 255
constexpr COLORREF BAR_BACKGROUND = 0x00C8C8C8;       // grey 200
constexpr COLORREF BAR_TEXT_COLOR = 0x00FFFFFF;       // white
constexpr std::uint32_t ACTIVITY_RANGE = 0x00320000;  // 0 to 50, as low and high words
// A second click of a double click on Abort lands on Close: clicks this soon after an operation
// ended do nothing.
constexpr int CLICK_GUARD_MS = 500;

// The update the engine's mode runs: the window asks and tells of updates alone.
KeypadCommand UpdateOf(int mode) { return mode == MODE_SCREENS ? KEYPAD_SCREENS : KEYPAD_FIRMWARE; }

// The one local file of a drop; empty for anything else.
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls()[0].isLocalFile()) return {};
    return data->urls()[0].toLocalFile();
}

// A progress bar inside a sunken frame, the bar filling the inside.
CPercentProgressCtrl* AddBar(QWidget* parent, const QRect& rect, const char* name) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    frame->setGeometry(rect);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(frame->frameWidth(), frame->frameWidth(), frame->frameWidth(), frame->frameWidth());
    auto* bar = new CPercentProgressCtrl(frame);
    bar->setObjectName(QLatin1String(name));
    layout->addWidget(bar);
    return bar;
}

QPushButton* AddButton(QWidget* parent, const QRect& rect, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(rect);
    return button;
}

}  // namespace

CLoaderDialog::CLoaderDialog(QWidget* parent)
    : QDialog(parent),
      CQtLoaderHost(false),
      m_recovery(m_binding, m_engine),
      m_icon(AppIcon()) {
    chooseFile = [this](const FileDialogSpec& request, std::string& path) { return RunFileDialog(this, request, path); };
    messageBox = [this](const std::string& text, MessageKind kind) { RunMessageBox(this, APP_NAME, text, kind); };
    askYesNo = [this](const std::string& text, YesNoDefault defaultButton) {
        return RunYesNo(this, APP_NAME, text, defaultButton, &m_question);
    };
    exitProcess = [](int code) { std::exit(code); };
    // One lost reply where no reply timer resends would otherwise leave the window busy for ever.
    m_engine.SetStallGuard(DEFAULT_STALL_TIMEOUT_SECONDS, false);
    m_binding.onPortLost = [this](bool duringOperation) { OnPortLost(duringOperation); };
    setAcceptDrops(true);

    setWindowTitle(QStringLiteral("Calvane ORBIX Loader"));
    // An application window of its own (a taskbar entry), minimisable, not resizable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    CreateMenu();
    CreateControls();
}

CLoaderDialog::~CLoaderDialog() = default;

void CLoaderDialog::CreateControls() {
    const CDialogUnits du(font());
    auto* client = new QWidget(this);
    client->setFixedSize(du.Size(320, 78));

    // Creation order is the tab order: Close first, so it has the focus at start.
    m_closeButton = AddButton(client, du.Rect(260, 7, 50, 14), "Close", "closeButton");
    m_closeButton->setDefault(true);
    m_screensButton = AddButton(client, du.Rect(7, 7, 69, 14), "Update Screens", "updateScreensButton");
    m_firmwareButton = AddButton(client, du.Rect(84, 7, 69, 14), "Update Firmware", "updateFirmwareButton");
    m_progress = AddBar(client, du.Rect(7, 27, 306, 14), "progressBar");
    m_status = new QLineEdit(client);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setReadOnly(true);
    // A read-only field, not an input: the dialog's colour behind it and no text pointer.
    QPalette statusColours = m_status->palette();
    statusColours.setColor(QPalette::Base, palette().color(QPalette::Window));
    m_status->setPalette(statusColours);
    m_status->setCursor(Qt::ArrowCursor);
    // Read, not typed into: no Tab stop, no selection, no focus frame; a screen reader still finds it.
    m_status->setFocusPolicy(Qt::NoFocus);
    m_status->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_status->setAccessibleName(QStringLiteral("Status"));
    connect(m_status, &QLineEdit::selectionChanged, m_status, &QLineEdit::deselect);
    m_status->setGeometry(du.Rect(7, 57, 195, 14));
    m_testButton = AddButton(client, du.Rect(161, 7, 69, 14), "Test Connection", "testConnectionButton");
    m_timeRemaining = new QLabel(QStringLiteral("---"), client);
    m_timeRemaining->setObjectName(QStringLiteral("timeRemaining"));
    m_timeRemaining->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_timeRemaining->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_timeRemaining->setGeometry(du.Rect(205, 57, 108, 14));
    m_activity = AddBar(client, du.Rect(7, 43, 306, 10), "activityBar");

    connect(m_closeButton, &QPushButton::clicked, this, &CLoaderDialog::OnCloseButton);
    connect(m_screensButton, &QPushButton::clicked, this, [this] { WithPort([this] { UpdateScreens(); }); });
    connect(m_firmwareButton, &QPushButton::clicked, this, [this] { WithPort([this] { UpdateFirmware(); }); });
    connect(m_testButton, &QPushButton::clicked, this, [this] { WithPort([this] { m_engine.OnTestConnection(); }); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CLoaderDialog::CreateMenu() {
    m_menuBar = new QMenuBar(this);
    m_menuBar->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Exit"), this, &CLoaderDialog::OnExit);
    m_preferences = m_menuBar->addMenu(QStringLiteral("Edit"))
                        ->addAction(QStringLiteral("Preferences"), this, &CLoaderDialog::OnPreferences);
    QMenu* help = m_menuBar->addMenu(QStringLiteral("Help"));
    help->addAction(QStringLiteral("Help"), this, &CLoaderDialog::OnHelpDialog);
    help->addAction(QStringLiteral("Calvane Homepage"), [] { OpenHomepage(); });
    help->addAction(QStringLiteral("About"), this, &CLoaderDialog::OnAbout);
    for (QAction* action : m_menuBar->findChildren<QAction*>()) action->setMenuRole(QAction::NoRole);
}

void CLoaderDialog::OnInitDialog() {
    setWindowIcon(m_icon);
    m_engine.ResetSender();

    m_progress->SetShowText(false);
    m_progress->SetBarColor(BAR_COLOR);
    m_progress->SetBkColor(BAR_BACKGROUND);
    m_progress->SetTextColor(BAR_TEXT_COLOR);

    m_activity->SetShowText(false);
    m_activity->SetBarColor(BAR_COLOR);
    m_activity->SetBkColor(BAR_BACKGROUND);
    m_activity->SetRange(ACTIVITY_RANGE);

    // Shown before the port opens, so a "not available" box sits over the window it belongs to.
    show();
    if (m_autoPort.empty()) OpenPort();
    else FindAutoPort();
    m_closeButton->setFocus();
}

// The window says what it looks for; its buttons and Preferences wait for the answer.
void CLoaderDialog::FindAutoPort(std::function<void()> then) {
    const std::vector<std::string> candidates = CandidatePorts(m_autoPort);
    if (candidates.empty()) return AutoPortNotFound(NoCandidatesText(m_autoPort));
    HoldOperations(true);
    m_engine.SetStatus("Looking for a keypad on " + JoinedNames(candidates) + "..");
    if (!m_autoFinder) m_autoFinder = std::make_unique<CKeypadFinder>();
    m_autoFinder->Start(candidates, [this, then](const KeypadSearch& search) { AutoPortFound(search, then); });
}

void CLoaderDialog::AutoPortFound(const KeypadSearch& search, const std::function<void()>& then) {
    HoldOperations(false);
    if (!search.Problem().empty()) return AutoPortNotFound(search.Problem());
    m_autoProblem.clear();
    PortSpec port;
    ParsePortArgument(search.answered[0], port);
    SetPortOverride(port);
    OpenPort([this, found = search.answered[0], then] {
        m_engine.SetStatus("Found a keypad on " + found);
        if (then) then();
    });
}

void CLoaderDialog::AutoPortNotFound(const std::string& problem) {
    m_fileForPort.clear();
    m_autoProblem = problem;
    m_autoProblem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
    ShowNotAvailable();
}

int CLoaderDialog::MayClose() {
    // An accidental close would leave the keypad half-written without a word.
    const StopAnswer answer = AskToStop("An update is running. Stop it and close? ");
    // An update that ended meanwhile leaves the window open on its outcome.
    return answer == STOP_NOT_ASKED || answer == STOP_DONE;
}

CLoaderDialog::StopAnswer CLoaderDialog::AskToStop(const std::string& question) {
    const int mode = m_engine.Mode();
    if (mode != MODE_FIRMWARE && mode != MODE_SCREENS) return STOP_NOT_ASKED;
    m_asking = true;
    const int yes = askYesNo(question + WillHoldNoValidText(UpdateOf(mode)), DEFAULT_NO);
    m_asking = false;
    // Its end withdraws the question; a Yes given as it ended has nothing left to stop.
    if (!m_engine.IsBusy()) return STOP_OUTRUN;
    if (!yes) return STOP_DECLINED;
    m_engine.EndOperation("Operation aborted.", OUTCOME_ABORTED);
    return STOP_DONE;
}

void CLoaderDialog::OnCloseButton() {
    if (m_asking || (!m_engine.IsBusy() && m_sinceIdle.isValid() && m_sinceIdle.elapsed() < CLICK_GUARD_MS)) return;
    // Only an update leaves the keypad without valid contents when stopped; a test stops at once.
    if (AskToStop("Stop the update? ") != STOP_NOT_ASKED) return;
    // Close while idle ends the program; Abort while busy ends the operation.
    if (m_engine.IsBusy()) m_engine.Abort();
    else accept();
}

// A reason given earlier may be no longer true (the adapter plugged in since, the other program
// gone): the answer to a button is that of a fresh try.
void CLoaderDialog::WithPort(std::function<void()> operation) {
    if (m_binding.IsOpen()) return operation();
    if (!m_autoProblem.empty()) return FindAutoPort(std::move(operation));
    OpenPort(std::move(operation));
}

void CLoaderDialog::OpenPort(std::function<void()> opened) {
    HoldOperations(true);
    m_recovery.TryNow([this, opened](int open) {
        HoldOperations(false);
        const QString file = std::exchange(m_fileForPort, {});
        const bool wasConnecting = std::exchange(m_connecting, false);
        if (!open) {
            // The box says why; "Connecting to" does not stay behind it.
            if (wasConnecting) m_engine.SetStatus(m_binding.NotAvailableText());
            ShowNotAvailable();
            return m_recovery.Start();
        }
        if (opened) opened();
        if (!file.isEmpty()) OpenFile(file);
    });
    m_connecting = m_recovery.IsWaited();
    if (m_connecting) m_engine.SetStatus("Connecting to " + PortLabel(m_binding.PortInUse()) + "..");
}

void CLoaderDialog::HoldOperations(bool held) {
    SetOperationsEnabled(!held);
    m_preferences->setEnabled(!held);
}

// The box adds why the port would not open; the status line says only that it did not.
void CLoaderDialog::ShowNotAvailable() {
    const bool unfound = !m_autoProblem.empty();
    const std::string text = unfound ? NotAvailableText(m_autoPort) : m_binding.NotAvailableText();
    const std::string& reason = unfound ? m_autoProblem : m_binding.OpenFailureReason();
    messageBox(text + (reason.empty() ? "" : "\n" + reason), MESSAGE_WARNING);
    m_engine.SetStatus(text);
}

void CLoaderDialog::UpdateFirmware() {
    const FileStepResult result = m_engine.LoadFirmwareFile();
    ShowFileResult(result);
    SaySettingsLost();
    if (result.Accepted()) m_engine.StartFirmwareUpdate();
}

void CLoaderDialog::UpdateScreens() {
    const FileStepResult result = m_engine.LoadScreensFile();
    ShowFileResult(result);
    SaySettingsLost();
    if (result.Accepted()) m_engine.StartScreensUpdate();
}

void CLoaderDialog::ShowFileResult(const FileStepResult& result) {
    if (result.IsStatusText()) m_engine.SetStatus(result.text);
    else if (!result.text.empty()) messageBox(result.text, MESSAGE_NOTE);
}

bool CLoaderDialog::IsUpdateFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("s") || suffix == QLatin1String("bin");
}

int CLoaderDialog::OpenFile(const QString& path) {
    if (m_engine.IsBusy() || !IsUpdateFile(path)) return 0;
    if ((m_autoFinder && m_autoFinder->IsRunning()) || m_recovery.IsWaited()) {
        m_fileForPort = path;
        return 1;
    }
    WithPort([this, path] {
        m_droppedFile = path.toStdString();
        if (QFileInfo(path).suffix().toLower() == QLatin1String("s")) UpdateFirmware();
        else UpdateScreens();
        m_droppedFile.clear();
    });
    return 1;
}

void CLoaderDialog::dragEnterEvent(QDragEnterEvent* event) {
    // Refused, with the cursor saying so, while busy and for anything but one update file.
    if (!m_engine.IsBusy() && !m_asking && !m_recovery.IsWaited() && IsUpdateFile(DroppedFile(event->mimeData())))
        event->acceptProposedAction();
}

void CLoaderDialog::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    // After the drop has ended: the questions and dialogs must not run inside the drag.
    QMetaObject::invokeMethod(this, [this, path] { OpenFile(path); }, Qt::QueuedConnection);
}

void CLoaderDialog::reject() {
    if (MayClose()) QDialog::reject();
}

void CLoaderDialog::OnExit() {
    if (MayClose()) Quit(0);
}

void CLoaderDialog::Quit(int exitCode) {
    // A signal does not ask: a running update stops as Abort stops it.
    if (m_engine.IsBusy()) m_engine.EndOperation("Operation aborted.", OUTCOME_ABORTED);
    // Closed here rather than left to the system, so the port's lock file goes with it.
    m_binding.Close();
    exitProcess(exitCode);
}

void CLoaderDialog::OnPortLost(bool duringOperation) {
    if (duringOperation) {
        // The operation has ended with the not-available status; the box says what that leaves.
        const std::string lost = "COM Port: " + PortLabel(m_binding.PortInUse()) + " was lost during the ";
        if (m_runningMode == MODE_FIRMWARE || m_runningMode == MODE_SCREENS)
            messageBox(lost + "update. " + HoldsNoValidText(UpdateOf(m_runningMode)), MESSAGE_WARNING);
        else
            messageBox(lost + "connection test.", MESSAGE_WARNING);
        m_progress->SetRange(100 << 16);
        m_progress->SetPos(0);
        m_progress->SetShowText(false);
        m_activity->SetPos(0);
    } else {
        // While idle nothing has said so: say it as at start-up.
        ShowNotAvailable();
    }
    m_recovery.Start();
}

void CLoaderDialog::SetPortOverride(const PortSpec& port) {
    m_binding.SetPortOverride(port);
    m_portOverridden = true;
}

void CLoaderDialog::OnPreferences() {
    // Find probes the ports and Apply may change this one: no attempt on it meanwhile.
    m_recovery.Hold(true);
    const PortSpec inUse = m_binding.PortInUse();
    CPreferencesDialog dialog(m_settings, m_portOverridden ? &inUse : nullptr, this);
    bool released = false;  // Find closed the port for its probes
    dialog.beforeFind = [this, &released]() -> std::string {
        if (m_engine.IsBusy()) return "Find cannot run while the keypad is busy: let the operation end first.";
        released = released || m_binding.IsOpen();
        m_binding.Close();
        return "";
    };
    const bool applied = dialog.exec() == QDialog::Accepted;
    if (applied) m_autoProblem.clear();
    // A port given for this run only gives way to another one the user has just chosen.
    if (applied && m_portOverridden && !dialog.KeptPortForRun())
        m_binding.SetPortOverride(ChosenPort(std::nullopt, m_settings));
    SaySettingsLost();
    m_recovery.Hold(false);
    if (m_binding.IsOpen() && !m_binding.StoredPortChanged()) return;
    // Unchanged, a port that would not open is tried again quietly, as before Preferences.
    if (released || m_binding.StoredPortChanged()) OpenPort();
    else m_recovery.Start();
}

void CLoaderDialog::SaySettingsLost() {
    const std::string failure = m_settings.TakeWriteFailure();
    if (!failure.empty()) messageBox(failure, MESSAGE_WARNING);
}

void CLoaderDialog::OnHelpDialog() {
    CHelpDialog dialog(this);
    dialog.exec();
}

void CLoaderDialog::OnAbout() {
    CAboutDialog dialog(m_icon, this);
    dialog.exec();
}

// Status and busy state are painted at once: the probe blocks the event loop for 200 ms right
// after them, and the user should see what is going on meanwhile.
void CLoaderDialog::ShowStatus(const std::string& text) {
    m_status->setText(QString::fromStdString(text));
    // A long text shows its beginning ("File: ..."), as a read-only field does.
    m_status->setCursorPosition(0);
    m_status->repaint();
}

void CLoaderDialog::SetOperationsEnabled(bool enabled) {
    m_screensButton->setEnabled(enabled);
    m_firmwareButton->setEnabled(enabled);
    m_testButton->setEnabled(enabled);
}

void CLoaderDialog::BusyChanged(bool busy) {
    if (busy) m_runningMode = m_engine.Mode();
    else m_sinceIdle.restart();
    // A question about stopping the update goes with it, answered No: the window shows its outcome.
    if (!busy && m_asking && m_question) m_question->done(QMessageBox::No);
    SetOperationsEnabled(!busy);
    m_closeButton->setText(busy ? QStringLiteral("Abort") : QStringLiteral("Close"));
    m_closeButton->setFocus();
    m_closeButton->parentWidget()->repaint();
}

// The bar counts sectors while erasing, with its percentage shown from the first erase on, then
// percent sent.
void CLoaderDialog::PhaseStarted(UpdatePhase phase, int, int last) {
    m_phase = phase;
    const int upper = phase == PHASE_DATA ? 100 : last;
    // The upper limit travels as an unsigned 16-bit word, as the bar's range message takes it.
    m_progress->SetRange((static_cast<std::uint32_t>(upper) & 0xFFFF) << 16);
    m_progress->SetPos(0);
    if (phase == PHASE_ERASE) m_progress->SetShowText(true);
}

void CLoaderDialog::Progress(int position, int last) {
    m_progress->SetPos(m_phase == PHASE_DATA ? PercentSent(position, last) : position);
}

void CLoaderDialog::ActivityMoved(int position) { m_activity->SetPos(position); }
void CLoaderDialog::TimeRemaining(int seconds) {
    m_timeRemaining->setText(QString::fromStdString(EstimateText(seconds)));
}

int CLoaderDialog::ChooseFile(const FileDialogSpec& request, std::string& chosenPath) {
    if (m_droppedFile.empty()) return chooseFile(request, chosenPath);
    chosenPath = std::exchange(m_droppedFile, {});
    return 1;
}
int CLoaderDialog::AskYesNo(const std::string& text) { return askYesNo(text, DEFAULT_YES); }
// Installing a damaged file takes a deliberate Yes; Enter keeps it out.
int CLoaderDialog::AcceptDamagedFile(const std::string& question) { return askYesNo(question, DEFAULT_NO); }

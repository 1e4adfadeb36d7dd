#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "port_recovery.h"
#include "session/keypad_finder.h"
#include "session/qt_loader_host.h"
#include "standard_dialogs.h"

class QDragEnterEvent;
class QDropEvent;
class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QMessageBox;
class QPushButton;
class CPercentProgressCtrl;

// Title of the message boxes: the application's name.
inline constexpr const char* APP_NAME = "ORBIXLoader";

// The main window and the whole user interface: three operation buttons, Close/Abort, the main
// progress bar, the activity bar, the status line, the time-remaining field and the menu. It
// hosts the engine with its port, timers and settings as the keypad session does, and maps the
// engine's events onto its bars, fields, buttons and boxes.
class CLoaderDialog : public QDialog, public CQtLoaderHost {
    Q_OBJECT
public:
    explicit CLoaderDialog(QWidget* parent = nullptr);
    ~CLoaderDialog() override;

    // Icon, sender and bars, then shows the window and opens the port. Separate from the
    // constructor so the owner can set a port override or replace the dialogs first; a "not
    // available" box shows from here, centred over the window.
    void OnInitDialog();

    // Menu commands.
    void OnExit();
    void OnPreferences();
    void OnHelpDialog();
    void OnAbout();
    // Ends the process with `exitCode` (File > Exit once agreed, or a signal), the port closed first.
    void Quit(int exitCode);

    // Escape and the close box: while an update runs, only when the user agrees to stop it.
    void reject() override;

    // Starts the update a file's name asks for (.s firmware, .bin screens), exactly as if it had
    // been chosen in the file dialog; 0, doing nothing, for any other name or while busy.
    int OpenFile(const QString& path);
    static bool IsUpdateFile(const QString& path);

    // Uses this port for the run instead of the stored one (not stored). Applying Preferences
    // replaces it with the port chosen there.
    void SetPortOverride(const PortSpec& port);
    // --port auto or auto:GLOB: once the window is up, the one keypad that answers gives the port
    // for the run, as orbix-flash finds it.
    void SetAutoPort(const std::string& autoName) { m_autoPort = autoName; }

    CPortRecovery& PortRecovery() { return m_recovery; }

    QPushButton* CloseButton() const { return m_closeButton; }
    QPushButton* UpdateScreensButton() const { return m_screensButton; }
    QPushButton* UpdateFirmwareButton() const { return m_firmwareButton; }
    QPushButton* TestConnectionButton() const { return m_testButton; }
    CPercentProgressCtrl* ProgressBar() const { return m_progress; }
    CPercentProgressCtrl* ActivityBar() const { return m_activity; }
    QLineEdit* StatusLine() const { return m_status; }
    QLabel* TimeRemainingField() const { return m_timeRemaining; }
    QMenuBar* MenuBar() const { return m_menuBar; }

    // The modal dialogs the engine opens; the real Qt dialogs unless a test puts its own here.
    std::function<int(const FileDialogSpec&, std::string&)> chooseFile;
    std::function<void(const std::string&, MessageKind)> messageBox;
    std::function<int(const std::string&, YesNoDefault)> askYesNo;
    // How File > Exit ends the process; a test puts its own here to look at what is left.
    std::function<void(int)> exitProcess;

    // ILoaderHost: the events, the file choice and the questions.
    void ShowStatus(const std::string& text) override;
    void BusyChanged(bool busy) override;
    void PhaseStarted(UpdatePhase phase, int first, int last) override;
    void Progress(int position, int last) override;
    void ActivityMoved(int position) override;
    void TimeRemaining(int seconds) override;
    void OperationEnded(LoaderOutcome) override {}
    int ChooseFile(const FileDialogSpec& request, std::string& chosenPath) override;
    int AskYesNo(const std::string& text) override;
    int AcceptDamagedFile(const std::string& question) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // What came of asking to stop an update.
    enum StopAnswer {
        STOP_NOT_ASKED,  // no update runs
        STOP_DECLINED,   // No: the update goes on
        STOP_DONE,       // Yes: the update has stopped
        STOP_OUTRUN,     // the update ended on its own while asked, and the question went with it
    };

    void CreateControls();
    void CreateMenu();
    // 1 when the window may close now; asks first while an update runs, and stops it on Yes.
    int MayClose();
    // Asks `question` (No the default) while an update runs and stops it on Yes.
    StopAnswer AskToStop(const std::string& question);  // the question, then what stopping leaves
    // Close/Abort, by click, Enter or Space.
    void OnCloseButton();
    // Runs `operation` with the port open: at once when it is, otherwise once it has been tried
    // again and opened.
    void WithPort(std::function<void()> operation);
    // Opens the port, the buttons and Preferences waiting meanwhile (a network port connects
    // while the window answers), then `opened`; when it will not open, says why in a box and on
    // the status line and keeps trying it in the background.
    void OpenPort(std::function<void()> opened = {});
    void HoldOperations(bool held);
    void ShowNotAvailable();
    // The file step, its result shown on the status line or in a box, then the update.
    void UpdateFirmware();
    void UpdateScreens();
    void ShowFileResult(const FileStepResult& result);
    // A box, once, when the settings could not be saved.
    void SaySettingsLost();
    void OnPortLost(bool duringOperation);
    void SetOperationsEnabled(bool enabled);
    // Looks again each time a button needs the port, as one that would not open is tried again;
    // `then` runs once the keypad found has its port open.
    void FindAutoPort(std::function<void()> then = {});
    void AutoPortFound(const KeypadSearch& search, const std::function<void()>& then);
    void AutoPortNotFound(const std::string& problem);

    CPortRecovery m_recovery;
    QIcon m_icon;
    bool m_portOverridden = false;
    // What the running (or last) operation was, for the words of a loss that ends it.
    int m_runningMode = MODE_IDLE;
    UpdatePhase m_phase = PHASE_ERASE;
    QElapsedTimer m_sinceIdle;  // since the last operation ended
    bool m_asking = false;      // the stop question is up
    bool m_connecting = false;  // the window waits for a network port to connect
    std::string m_droppedFile;  // answers the next file choice instead of the dialog
    std::string m_autoPort;     // as --port gave it
    std::string m_autoProblem;  // why it found no keypad to use, till one is found or Preferences chooses one
    std::unique_ptr<CKeypadFinder> m_autoFinder;
    QString m_fileForPort;  // the command line's file, once the keypad is found and the port open
    // The Yes/No box that is up.
    QPointer<QMessageBox> m_question;
    QAction* m_preferences = nullptr;

    QPushButton* m_closeButton = nullptr;
    QPushButton* m_screensButton = nullptr;
    QPushButton* m_firmwareButton = nullptr;
    QPushButton* m_testButton = nullptr;
    CPercentProgressCtrl* m_progress = nullptr;
    CPercentProgressCtrl* m_activity = nullptr;
    QLineEdit* m_status = nullptr;
    QLabel* m_timeRemaining = nullptr;
    QMenuBar* m_menuBar = nullptr;
};

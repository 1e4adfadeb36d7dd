#pragma once
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <string>

#include "exit_code.h"
#include "image_file.h"
#include "qt_loader_host.h"
#include "result_record.h"
#include "send_rate.h"
#include "session_request.h"
#include "session_sink.h"

// One keypad's session: the engine, its port and timers, and the settings
// store (read, never written). What happens goes to a session sink, the
// request's file is the dialog's choice, and questions go to the policy. It
// runs its own event loop, so several can run at once, each on a thread of its own.
class CKeypadSession : public QObject, public CQtLoaderHost {
public:
    CKeypadSession(const SessionRequest& request, ISessionSink& view, ISessionPolicy& policy);

    // Runs the command to its end and gives the exit code: reads and checks
    // the file, opens the port (the settings store's, the request's, or the
    // simulated keypad's device), then talks to the keypad.
    int Run(const std::string& simulatedDevice);
    // Stops the session (Ctrl-C): aborts what runs, then leaves with `exitCode`.
    void Interrupt(int exitCode);
    // How the run ended, once Run has returned.
    SessionResult Result() const;
    // For a front end that runs many keypads: reads and checks the file once,
    // then asks the erase question once (EXIT_OK: go on, with the answer yes).
    int CheckFileAndAsk();
    // The file as read, once Run or CheckFileAndAsk has read it.
    std::shared_ptr<const CImageFile> File() const { return m_file; }

    // ILoaderHost
    void WriteFrameToPort(const uint8_t* data, int count) override;
    void ShowStatus(const std::string& text) override { m_view.Status(text); }
    void BusyChanged(bool) override {}
    void PhaseStarted(UpdatePhase phase, int first, int last) override;
    void Progress(int position, int last) override;
    void ActivityMoved(int) override {}
    // The views show the figure from the sending rate instead (CSendRate).
    void TimeRemaining(int) override {}
    void OperationEnded(LoaderOutcome outcome) override;
    int ChooseFile(const FileDialogSpec& request, std::string& chosenPath) override;
    int AskYesNo(const std::string& text) override;
    int AcceptDamagedFile(const std::string& question) override;
    FileReadResult ReadChosenFile(const std::string& path, uint64_t limit, FileBytes& bytes,
                                  uint64_t& fileLength) override;

private:
    // Why a session ends before the keypad's outcome can say; the exit code follows from it.
    enum StopReason {
        STOP_NONE,         // the keypad's outcome decides
        STOP_REFUSED,      // the file, the port or a question nobody could answer: nothing was sent (2)
        STOP_DECLINED,     // the erase was not confirmed (1)
        STOP_INTERRUPTED,  // Ctrl-C or SIGTERM: the interruption's own code
    };

    // Each false once the session stops: the reason set and said.
    bool OpenPort(const std::string& simulatedDevice);
    bool LoadFile();
    // An interruption first stops the session, whatever stopped it before; another reason only
    // one that still runs.
    void StopFor(StopReason reason);
    bool Interrupted();
    int StoppedBeforeSending();  // says so; 0
    void Trace(const char* direction, const uint8_t* data, int count);
    void Fail(const std::string& reason);
    int ExitCode() const;
    void ReportEnd(int code);
    void Start();

    const SessionRequest& m_request;
    ISessionPolicy& m_policy;
    ISessionSink& m_view;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    StopReason m_stop = STOP_NONE;
    bool m_portRefused = false;  // the port would not open
    int m_interruptExit = 0;     // the exit code of STOP_INTERRUPTED
    bool m_reasonGiven = false;  // the failure's reason is on stderr already
    int m_exitCode = 0;          // once Run has returned
    UpdatePhase m_phase = PHASE_ERASE;
    CSendRate m_rate;
    std::string m_remaining;  // the time text last shown
    std::string m_portLabel;
    std::string m_chosenPath;
    std::shared_ptr<const CImageFile> m_file;
    std::string m_fileProblem;  // why the file could not be read, in the system's words
    int64_t m_startMs = 0;
    double m_seconds = 0;
};

#include "keypad_command.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <iostream>
#include <thread>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "console_output.h"
#include "fleet_progress.h"
#include "gang_view.h"
#include "interrupts.h"
#include "json_output.h"
#include "session/gang_runner.h"
#include "session/keypad_finder.h"
#include "session/keypad_session.h"
#include "session/port_discovery.h"
#include "session/result_log.h"
#include "session/station.h"
#include "sim/simulated_keypad.h"
#include "summary.h"
#include "terminal_policy.h"
#include "terminal_view.h"

namespace {

KeypadCommand Command(CliCommand command) {
    switch (command) {
    case CLI_FIRMWARE:
        return KEYPAD_FIRMWARE;
    case CLI_SCREENS:
        return KEYPAD_SCREENS;
    case CLI_SCAN:
        return KEYPAD_SCAN;
    default:
        return KEYPAD_TEST;
    }
}

// What the sessions need of the command line's options.
SessionRequest Request(const CliOptions& options) {
    SessionRequest request;
    request.command = Command(options.command);
    request.file = options.file;
    request.port = options.port;
    request.yes = options.yes;
    request.trace = options.trace;
    request.quiet = options.quiet;
    request.repeat = options.repeat;
    request.stallTimeoutSeconds = options.stallTimeoutSeconds;
    request.expectedSha256 = options.expectSha256;
    return request;
}

class CKeypadCommand {
public:
    explicit CKeypadCommand(const CliOptions& options) : m_options(options), m_policy(options.force) {}
    int Run();

private:
    int InstallInterrupts();
    int StartSimulatedKeypads(std::vector<PortTarget>& targets);
    int FindKeypads(std::vector<PortTarget>& targets);
    int NamedPorts(std::vector<PortTarget>& targets);
    int ReadRetryDelay();
    int SkipDone(std::vector<PortTarget>& targets);
    int RunOne(const PortTarget& target);
    int RunMany(std::vector<PortTarget> targets);
    std::vector<ISessionSink*> MakeSinks(const std::vector<PortTarget>& targets,
                                         std::vector<std::unique_ptr<ISessionSink>>& owned,
                                         std::unique_ptr<CGangView>& gang);
    std::unique_ptr<QObject> ReadEnterKey(CEnterKey& enter);
    void Record(const SessionResult& result);
    void OnInterrupt(int exitCode);
    void Error(const std::string& text);

    CliOptions m_options;
    CTerminalPolicy m_policy;
    std::shared_ptr<const CImageFile> m_image;  // the update's file, once read for many keypads
    std::unique_ptr<QObject> m_interrupts;
    std::vector<std::unique_ptr<CSimulatedKeypad>> m_keypads;
    CResultLog m_log;
    CJsonOutput m_json;
    CGangRunner* m_runner = nullptr;
    CKeypadFinder* m_finder = nullptr;
    CKeypadSession* m_host = nullptr;
    int m_interruptExit = 0;
    int m_updatesAborted = 0;
    int m_retryDelayMs = 5000;
    size_t m_skipped = 0;  // ports --resume left out
    bool m_recordLost = false;
};

// With --json an "error" object too: a script reading stdout learns why nothing ran.
void CKeypadCommand::Error(const std::string& text) {
    if (m_options.json) {
        m_json.Error("", text);
    } else {
        OutputLine(stderr, "orbix-flash: " + text);
    }
}

int CKeypadCommand::InstallInterrupts() {
    m_interrupts = WatchInterrupts([this](int exitCode) { OnInterrupt(exitCode); });
    return m_interrupts != nullptr;
}

void CKeypadCommand::OnInterrupt(int exitCode) {
    m_interruptExit = exitCode;
    if (m_runner) m_updatesAborted += m_runner->Interrupt(exitCode);
    else if (m_finder) m_finder->Stop(exitCode);
    else if (m_host) m_host->Interrupt(exitCode);
}

int CKeypadCommand::StartSimulatedKeypads(std::vector<PortTarget>& targets) {
    for (int i = 0; i < m_options.simulateCount; ++i) {
        auto keypad = std::make_unique<CSimulatedKeypad>(DemoKeypadConfig());
        std::string error;
        if (!keypad->Open(error)) {
            Error("the simulated keypad could not start: " + error);
            return 0;
        }
        keypad->Start();
        targets.push_back({keypad->DevicePath(), keypad->DevicePath()});
        m_keypads.push_back(std::move(keypad));
    }
    return 1;
}

// An auto port: every candidate probed at once with the connection test.
int CKeypadCommand::FindKeypads(std::vector<PortTarget>& targets) {
    std::vector<std::string> candidates = CandidatePorts(m_options.port);
    if (candidates.empty()) {
        Error(NoCandidatesText(m_options.port));
        return EXIT_USAGE;
    }
    if (m_options.command == CLI_SCAN) {
        targets.assign(candidates.begin(), candidates.end());
        return EXIT_OK;
    }
    CKeypadFinder finder(Request(m_options), &m_policy);
    m_finder = &finder;
    KeypadSearch found = finder.Run(candidates);
    m_finder = nullptr;
    if (m_interruptExit) return m_interruptExit;
    if (found.answered.empty() || (found.answered.size() > 1 && !m_options.all)) {
        Error(found.Problem() + (found.answered.empty() ? "" : "; name one with --port, or use --all to update them all"));
        return EXIT_USAGE;
    }
    targets.assign(found.answered.begin(), found.answered.end());
    return EXIT_OK;
}

// Each line on standard input is an Enter; its end ends the stations after their units.
#ifdef _WIN32
// Windows has no notifier for a console or a pipe: a thread reads the lines and the main thread
// acts on them while the returned object lives.
std::unique_ptr<QObject> CKeypadCommand::ReadEnterKey(CEnterKey& enter) {
    auto alive = std::make_shared<std::atomic<bool>>(true);
    auto post = [alive, &enter](bool ended) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, &enter, ended] {
                if (!*alive) return;
                if (ended) enter.InputEnded();
                else enter.Pressed();
            },
            Qt::QueuedConnection);
    };
    std::thread([post] {
        std::string line;
        while (std::getline(std::cin, line) && !std::cin.eof()) post(false);
        post(true);
    }).detach();
    auto owner = std::make_unique<QObject>();
    QObject::connect(owner.get(), &QObject::destroyed, [alive] { *alive = false; });
    return owner;
}
#else
std::unique_ptr<QObject> CKeypadCommand::ReadEnterKey(CEnterKey& enter) {
    auto input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QSocketNotifier* notifier = input.get();
    QObject::connect(notifier, &QSocketNotifier::activated, [&enter, notifier] {
        char bytes[256];
        ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) return;
        if (n <= 0) {
            notifier->setEnabled(false);
            enter.InputEnded();
        }
        for (ssize_t i = 0; i < n; ++i)
            if (bytes[i] == '\n') enter.Pressed();
    });
    return input;
}
#endif

void CKeypadCommand::Record(const SessionResult& result) {
    if (m_options.json) m_json.Result(result);
    std::string reason;
    if (m_log.IsOpen() && !m_log.Append(result, reason)) {
        Error(m_options.logFile + ": the result could not be written: " + reason);
        m_recordLost = true;
    }
}

int CKeypadCommand::RunOne(const PortTarget& target) {
    SessionRequest request = Request(m_options);
    request.port = target.port;
    std::unique_ptr<ISessionSink> view;
    if (m_options.json) view = std::make_unique<CJsonSink>(m_json, target.port);
    else view = std::make_unique<CTerminalView>(m_options.quiet, TakesEscapeSequences(STDOUT_FILENO));
    CKeypadSession host(request, *view, m_policy);
    m_host = &host;
    int code = host.Run(target.device);
    m_host = nullptr;
    Record(host.Result());
    return code;
}

// --resume: the ports whose last record is this command's ok, with this file, are left out.
int CKeypadCommand::SkipDone(std::vector<PortTarget>& targets) {
    std::set<std::string> done;
    std::string error;
    std::string sha256 = m_image ? m_image->sha256 : "";
    if (!ReadDonePorts(m_options.resumeLog, KeypadCommandWord(Command(m_options.command)), sha256, done, error)) {
        Error("--resume: " + error);
        return EXIT_USAGE;
    }
    size_t before = targets.size();
    std::erase_if(targets, [&](const PortTarget& t) { return done.count(DeviceIdentity(t.port)) > 0; });
    m_skipped = before - targets.size();
    if (!m_options.json && !m_options.quiet)
        OutputLine(stdout, "skipped " + std::to_string(m_skipped) + " of " + std::to_string(before) +
                               " port(s): their last record in " + m_options.resumeLog + " is ok");
    return EXIT_OK;
}

// What each keypad's session shows: JSON objects, nothing (a scan), a line of
// the gang view, or lines naming the port on a pipe.
std::vector<ISessionSink*> CKeypadCommand::MakeSinks(const std::vector<PortTarget>& targets,
                                                     std::vector<std::unique_ptr<ISessionSink>>& owned,
                                                     std::unique_ptr<CGangView>& gang) {
    std::vector<ISessionSink*> sinks;
    std::vector<std::string> labels;  // a gang line is narrow: the unit name alone where there is one
    for (const PortTarget& t : targets) labels.push_back(t.unit.empty() ? t.port : t.unit);
    if (m_options.json) {
        for (const PortTarget& t : targets) owned.push_back(std::make_unique<CJsonSink>(m_json, t.port));
    } else if (m_options.command == CLI_SCAN) {
        // A scan's answer is its table: a port without a keypad is not an error.
        for (size_t i = 0; i < targets.size(); ++i) owned.push_back(std::make_unique<CNullSink>());
    } else if (!m_options.quiet && TakesEscapeSequences(STDOUT_FILENO)) {
        gang = std::make_unique<CGangView>(labels);
        for (size_t i = 0; i < targets.size(); ++i) sinks.push_back(&gang->Line(i));
    } else {
        for (const PortTarget& t : targets)
            owned.push_back(std::make_unique<CTerminalView>(m_options.quiet, false, TargetLabel(t) + ": "));
    }
    for (auto& sink : owned) sinks.push_back(sink.get());
    return sinks;
}

int CKeypadCommand::RunMany(std::vector<PortTarget> targets) {
    bool update = m_options.command == CLI_FIRMWARE || m_options.command == CLI_SCREENS;
    if (update) {
        // The file and the question once, not once a keypad.
        CTerminalView errorsOnly(true, false);
        SessionRequest check = Request(m_options);
        CKeypadSession checker(check, errorsOnly, m_policy);
        int code = checker.CheckFileAndAsk();
        if (code != EXIT_OK) return code;
        m_options.yes = true;
        m_image = checker.File();
    }
    if (!m_options.resumeLog.empty())
        if (int code = SkipDone(targets)) return code;
    std::vector<std::unique_ptr<ISessionSink>> owned;
    std::unique_ptr<CGangView> gang;
    std::vector<ISessionSink*> sinks = MakeSinks(targets, owned, gang);

    CEnterKey enter;
    std::unique_ptr<QObject> input;
    if (m_options.repeatOnEnter) input = ReadEnterKey(enter);

    bool station = m_options.repeat;
    bool printRows = !m_options.json && !m_options.quiet && station;
    if (printRows) OutputLine(stdout, SummaryHeader());
    SessionRequest request = Request(m_options);
    request.image = m_image;
    CGangRunner runner(request, m_policy);
    if (input) runner.enterKey = &enter;
    runner.jobs = m_options.jobs;
    runner.retries = m_options.retries;
    runner.retryDelayMs = m_retryDelayMs;
    CFleetProgress progress(targets, station, m_options.quiet, m_options.json ? &m_json : nullptr, gang.get());
    runner.onStarted = [&](size_t target) { progress.Started(target); };
    runner.onResult = [&](const SessionResult& result, int retryInMs) {
        Record(result);  // on the disk before the keypad counts as done
        progress.Ended(result, retryInMs);
    };
    m_runner = &runner;
    runner.Run(targets, request.command, sinks);
    m_runner = nullptr;
    progress.Conclude();
    if (gang) gang->Finish();

    if (m_interruptExit && station)
        Error("station stopped: " + std::to_string(m_updatesAborted) + " update(s) running were aborted");
    bool scan = m_options.command == CLI_SCAN;
    // A scan's table in the order the ports were given; an update's with the failed first.
    std::vector<SessionResult> finals = progress.Finals(!scan);
    const FleetTotals& totals = progress.Totals();
    bool any = std::any_of(finals.begin(), finals.end(), [](const SessionResult& r) { return r.exitCode == 0; });
    // A scan's table is its answer; an update's is a summary, which --quiet leaves out.
    if (!m_options.json && !printRows && (scan ? any : !m_options.quiet)) {
        OutputLine(stdout, "");
        OutputLine(stdout, SummaryHeader());
        for (const SessionResult& r : finals)
            if (!scan || r.exitCode == EXIT_OK) OutputLine(stdout, SummaryRow(r));
        if (!scan) OutputLine(stdout, totals.Line());
    }
    if (scan) {
        if (!any && !m_interruptExit) Error("no keypad answered");
        return m_interruptExit ? m_interruptExit : any ? EXIT_OK : EXIT_FAILED;
    }
    int code = CombinedExitCode(finals, m_interruptExit);
    if (m_options.json && !station) m_json.Summary(totals, m_skipped, code);
    return code;
}

// The ports named with --port, then those of --ports-from or a profile's slots, each once.
int CKeypadCommand::NamedPorts(std::vector<PortTarget>& targets) {
    for (const std::string& port : m_options.ports) targets.push_back({port, "", "", "--port " + port});
    std::string error;
    size_t named = targets.size();
    if (!m_options.portsFrom.empty() && !ReadFleetFile(m_options.portsFrom, targets, error)) {
        Error("--ports-from " + error);
        return EXIT_USAGE;
    }
    if (!BenchSlotTargets(m_options.profile, m_options.slots, targets, error)) {
        Error(error);
        return EXIT_USAGE;
    }
    if (!m_options.portsFrom.empty() && targets.size() == named) {  // the wrong file, most likely
        Error("--ports-from " + m_options.portsFrom + " names no port");
        return EXIT_USAGE;
    }
    if (!CheckPortsDiffer(targets, error)) {
        Error(error);
        return EXIT_USAGE;
    }
    // Every station keeps its port busy for good: none may wait for another's turn.
    if (m_options.repeat && targets.size() > static_cast<size_t>(m_options.jobs)) {
        Error("--repeat keeps every port busy: " + std::to_string(targets.size()) + " ports need --jobs " +
              std::to_string(targets.size()));
        return EXIT_USAGE;
    }
    return EXIT_OK;
}

// The back-off of --retries is shortened by tests.
int CKeypadCommand::ReadRetryDelay() {
    const char* text = std::getenv("ORBIX_RETRY_DELAY_MS");
    if (!text || !*text) return EXIT_OK;
    char* end = nullptr;
    long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms < 0 || ms > 3600 * 1000) {
        Error("ORBIX_RETRY_DELAY_MS takes milliseconds from 0 to 3600000");
        return EXIT_USAGE;
    }
    m_retryDelayMs = static_cast<int>(ms);
    return EXIT_OK;
}

int CKeypadCommand::Run() {
    InstallInterrupts();
    if (int code = ReadRetryDelay()) return code;
    std::string error;
    if (!m_options.logFile.empty() && !m_log.Open(m_options.logFile, error)) {
        Error("the log cannot be written: " + error);
        return EXIT_USAGE;
    }
    // A scan with no port named looks at every port the system has.
    if (m_options.command == CLI_SCAN && m_options.ports.empty() && !m_options.simulate) m_options.port = "auto";
    std::vector<PortTarget> targets;
    if (m_options.simulate) {
        if (!StartSimulatedKeypads(targets)) return EXIT_USAGE;
    } else if (IsAutoPort(m_options.port)) {
        int code = FindKeypads(targets);
        if (code != EXIT_OK) return code;
    } else if (!m_options.ports.empty() || !m_options.portsFrom.empty() || !m_options.slots.empty()) {
        if (int code = NamedPorts(targets)) return code;
    } else {
        targets.push_back({});  // the settings store's port
    }
    bool fleet = !m_options.portsFrom.empty() || !m_options.resumeLog.empty() || m_options.retries > 0;
    bool many = targets.size() > 1 || fleet || m_options.repeat || m_options.command == CLI_SCAN;
    int code = many ? RunMany(targets) : RunOne(targets[0]);
    for (auto& keypad : m_keypads) keypad->Stop();
    return MoreSeriousExit(code, m_recordLost ? EXIT_RECORDS : EXIT_OK);
}

}  // namespace

int RunKeypadCommand(const CliOptions& options) {
    int code = CKeypadCommand(options).Run();
    FlushOutput();
    return code;
}

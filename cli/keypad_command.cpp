#include "keypad_command.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "console_output.h"
#include "fleet_progress.h"
#include "gang_view.h"
#include "interrupts.h"
#include "json_output.h"
#include "records/records_database.h"
#include "session/enter_lines.h"
#include "session/exit_code.h"
#include "session/keypad_finder.h"
#include "session/keypad_run.h"
#include "session/serial_desk.h"
#include "session/station.h"
#include "sim/simulated_keypad.h"
#include "summary.h"
#include "terminal_policy.h"
#include "terminal_view.h"

namespace {

// What orbix-flash gives the database at its end before saying what waits.
constexpr int FINISH_SENDING_MS = 5000;

class CKeypadCommand {
public:
    explicit CKeypadCommand(const CliOptions& options)
        : m_options(options), m_policy(options.force), m_run(options.request, options.plan, m_policy) {}
    int Run();

private:
    int StartSimulatedKeypads(std::vector<PortTarget>& targets);
    int Targets(std::vector<PortTarget>& targets);
    int RunOne(const PortTarget& target);
    int RunMany(std::vector<PortTarget> targets);
    std::vector<ISessionSink*> MakeSinks(const std::vector<PortTarget>& targets,
                                         std::vector<std::unique_ptr<ISessionSink>>& owned,
                                         std::unique_ptr<CGangView>& gang);
    void PrintSummary(bool station);
    int Error(const std::string& text, int code = EXIT_USAGE);
    // --database: refused before anything starts when the server turns it down for good.
    int StartDatabase();
    void FinishDatabase();

    const CliOptions m_options;
    CTerminalPolicy m_policy;
    CKeypadRun m_run;
    std::vector<std::unique_ptr<CSimulatedKeypad>> m_keypads;
    CJsonOutput m_json;
    size_t m_skipped = 0;  // ports --resume left out
    std::unique_ptr<CRecordSender> m_sender;
};

// With --json an "error" object too: a script reading stdout learns why nothing ran. Returns `code`.
int CKeypadCommand::Error(const std::string& text, int code) {
    if (m_options.json)
        m_json.Error("", text);
    else
        OutputLine(stderr, "orbix-flash: " + text);
    return code;
}

int CKeypadCommand::StartSimulatedKeypads(std::vector<PortTarget>& targets) {
    for (int i = 0; i < m_options.simulateCount; ++i) {
        auto keypad = std::make_unique<CSimulatedKeypad>(DemoKeypadConfig());
        std::string error;
        if (!keypad->Open(error)) return Error("the simulated keypad could not start: " + error);
        keypad->Start();
        targets.push_back({keypad->DevicePath(), keypad->DevicePath()});
        m_keypads.push_back(std::move(keypad));
    }
    return EXIT_OK;
}

// Simulated keypads, or those the plan names.
int CKeypadCommand::Targets(std::vector<PortTarget>& targets) {
    if (m_options.simulate) return StartSimulatedKeypads(targets);
    std::string error;
    int code = m_run.FindTargets(targets, error);
    return code != EXIT_OK && !error.empty() ? Error(error, code) : code;
}

int CKeypadCommand::RunOne(const PortTarget& target) {
    std::unique_ptr<ISessionSink> view;
    if (m_options.json)
        view = std::make_unique<CJsonSink>(m_json, target.port);
    else
        view = std::make_unique<CTerminalView>(m_options.request.quiet, TakesEscapeSequences(STDOUT_FILENO));
    m_run.onResult = [this](const SessionResult& result, int) {
        if (m_options.json) m_json.Result(result);
    };
    return m_run.RunOne(target, *view);
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
    } else if (!m_options.request.quiet && TakesEscapeSequences(STDOUT_FILENO)) {
        gang = std::make_unique<CGangView>(labels);
        for (size_t i = 0; i < targets.size(); ++i) sinks.push_back(&gang->Line(i));
    } else {
        for (const PortTarget& t : targets)
            owned.push_back(std::make_unique<CTerminalView>(m_options.request.quiet, false, t.Label() + ": "));
    }
    for (auto& sink : owned) sinks.push_back(sink.get());
    return sinks;
}

// A scan's table is its answer, in the order the ports were given; an update's
// is a summary, with the failed first, which --quiet leaves out.
void CKeypadCommand::PrintSummary(bool station) {
    bool scan = m_options.command == CLI_SCAN;
    std::vector<SessionResult> finals = m_run.Tally().Finals(!scan);
    bool any = std::any_of(finals.begin(), finals.end(), [](const SessionResult& r) { return r.exitCode == EXIT_OK; });
    if (!m_options.json && !(station && !m_options.request.quiet) && (scan ? any : !m_options.request.quiet)) {
        OutputLine(stdout, "");
        OutputLine(stdout, SummaryHeader());
        for (const SessionResult& r : finals)
            if (!scan || r.exitCode == EXIT_OK) OutputLine(stdout, SummaryRow(r));
        if (!scan) OutputLine(stdout, m_run.Tally().Totals().Line());
    }
    if (scan && !any && !m_run.InterruptExit()) Error("no keypad answered");
    if (scan && !m_run.Unopened().empty()) Error(JoinedNames(m_run.Unopened()) + " did not open in time: not scanned");
}

int CKeypadCommand::RunMany(std::vector<PortTarget> targets) {
    CTerminalView errorsOnly(true, false);
    if (int code = m_run.PrepareMany(errorsOnly)) return code;
    std::string error;
    std::vector<PortTarget> cutOff;
    if (int code = m_run.SkipDone(targets, m_skipped, cutOff, error)) return Error(error, code);
    for (const PortTarget& t : cutOff)
        Error(t.Label() + ": its last unit in " + m_options.plan.resumeLog +
                  " began and never ended: its keypad is half-written and is updated again",
              EXIT_OK);
    if (!m_options.plan.resumeLog.empty() && !m_options.json && !m_options.request.quiet)
        OutputLine(stdout, "skipped " + std::to_string(m_skipped) + " of " +
                               std::to_string(targets.size() + m_skipped) + " port(s): their last record in " +
                               m_options.plan.resumeLog + " is ok");
    if (int code = m_run.PrepareSerials(targets, error)) return Error(error, code);
    std::vector<std::unique_ptr<ISessionSink>> owned;
    std::unique_ptr<CGangView> gang;
    std::vector<ISessionSink*> sinks = MakeSinks(targets, owned, gang);

    CEnterKey enter;
    std::unique_ptr<QObject> input;
    CSerialDesk* serials = m_run.Serials();
    if (serials) serials->KeepEarlyScans();  // a label scanned before its keypad is in waits for it
    if (m_options.repeatOnEnter || serials)
        input = ReadStationLines(std::cin, enter, serials, [this](const std::string& text) { Error(text, EXIT_OK); });
    m_run.enterKey = m_options.repeatOnEnter ? &enter : nullptr;
    bool station = m_options.request.repeat;
    if (!m_options.json && !m_options.request.quiet && station) OutputLine(stdout, SummaryHeader());
    CFleetProgress progress(targets, m_run.Tally(), station, m_options.request.quiet,
                            m_options.json ? &m_json : nullptr, gang.get());
    m_run.onStarted = [&](size_t target) { progress.Started(target); };
    std::vector<std::unique_ptr<CProgressSink>> routed;
    std::vector<ISessionSink*> views;
    for (ISessionSink* sink : sinks) {
        routed.push_back(std::make_unique<CProgressSink>(*sink, progress));
        views.push_back(routed.back().get());
    }
    int code = m_run.RunMany(targets, views);
    if (gang) gang->Finish();

    if (m_run.InterruptExit() && station)
        Error("station stopped: " + std::to_string(m_run.UpdatesAborted()) + " update(s) running were aborted");
    if (station && !m_options.json && !m_options.request.quiet) OutputLine(stdout, m_run.Tally().Totals().UnitsLine());
    PrintSummary(station);
    if (m_options.json && !station && m_options.command != CLI_SCAN)
        m_json.Event("", SummaryObject(m_run.Tally().Totals(), m_skipped, code));
    return code;
}

int CKeypadCommand::Run() {
    std::unique_ptr<QObject> interrupts = WatchInterrupts([this](int exitCode) { m_run.Interrupt(exitCode); });
    if (!interrupts) return Error("Ctrl-C and SIGTERM cannot be watched: nothing was started", EXIT_FAILED);
    m_run.onRecordLost = [this](const std::string& error) { Error(error); };
    m_run.onLogNote = [this](const std::string& note) { Error(note, EXIT_OK); };
    std::string error;
    if (int code = m_run.OpenLog(error)) return Error(error, code);
    if (int code = StartDatabase()) return code;
    std::vector<PortTarget> targets;
    int code = Targets(targets);
    if (code) return code;
    if (!m_run.RunsMany(targets.size()) && (code = m_run.PrepareSerials(targets, error))) return Error(error, code);
    code = m_run.RunsMany(targets.size()) ? RunMany(targets) : RunOne(targets[0]);
    for (auto& keypad : m_keypads) keypad->Stop();
    FinishDatabase();
    return code;
}

int CKeypadCommand::StartDatabase() {
    const RunPlan& plan = m_options.plan;
    std::string error;
    if (plan.database.empty()) return EXIT_OK;
    if (!StartRecordSender(plan.database, plan.logFile, "orbix-flash", nullptr, m_sender, error)) return Error(error);
    m_run.ForwardRecords([sender = m_sender.get()](const QByteArray& line) { sender->Queue(line); });
    return EXIT_OK;
}

// The log has every record: the run's exit code stays as it is, whatever the database took.
void CKeypadCommand::FinishDatabase() {
    if (!m_sender) return;
    size_t waiting = m_sender->Finish(FINISH_SENDING_MS);
    for (const std::string& note : EndOfRunNotes(*m_sender, waiting, m_options.plan.logFile, m_options.plan.database))
        Error(note, EXIT_OK);
}

}  // namespace

int RunKeypadCommand(const CliOptions& options) {
    int code = CKeypadCommand(options).Run();
    FlushOutput();
    return code;
}

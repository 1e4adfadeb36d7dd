#include "keypad_run.h"

#include <QFileInfo>
#include <algorithm>
#include <map>
#include <set>

#include "engine/file_steps.h"
#include "exit_code.h"
#include "gang_runner.h"
#include "image_file.h"
#include "keypad_finder.h"
#include "keypad_session.h"
#include "port_discovery.h"
#include "serial_desk.h"
#include "station_thread.h"

namespace {

// Keeps a check's first error: why the image was refused.
class CFirstError : public CNullSink {
public:
    std::string text;
    void Error(const std::string& error) override {
        if (text.empty()) text = error;
    }
};

}  // namespace

CKeypadRun::CKeypadRun(const SessionRequest& request, const RunPlan& plan, ISessionPolicy& policy)
    : m_request(request), m_plan(plan), m_policy(policy) {}

CKeypadRun::~CKeypadRun() = default;

int CKeypadRun::OpenLog(std::string& error) {
    m_source = MakeRecordSource(m_plan.program, m_plan.station, m_plan.operatorName, m_plan.profile);
    m_log.SetSource(m_source);
    if (m_plan.logFile.empty() || m_log.Open(m_plan.logFile, error)) return EXIT_OK;
    error = "the log cannot be written: " + error;
    return EXIT_USAGE;
}

int CKeypadRun::FindTargets(std::vector<PortTarget>& targets, std::string& error) {
    bool scanAll = m_request.command == KEYPAD_SCAN && m_plan.ports.empty() && m_plan.portsFrom.empty();
    if (scanAll || IsAutoPort(m_request.port)) return FindKeypads(scanAll ? "auto" : m_request.port, targets, error);
    if (m_plan.ports.empty() && m_plan.portsFrom.empty() && m_plan.slots.empty()) {
        targets.push_back({});
        return EXIT_OK;
    }
    return ReadNamedPorts(targets, error);
}

// Every candidate probed at once with the connection test, answered by a
// deadline: a port whose open hangs cannot hold up the run, nor a scan.
int CKeypadRun::FindKeypads(const std::string& autoPort, std::vector<PortTarget>& targets, std::string& error) {
    std::vector<std::string> candidates = CandidatePorts(autoPort);
    if (candidates.empty()) {
        error = NoCandidatesText(autoPort);
        return EXIT_USAGE;
    }
    CKeypadFinder finder(m_request, &m_policy);
    m_finder = &finder;
    KeypadSearch found = finder.Run(candidates);
    m_finder = nullptr;
    if (m_interruptExit) return m_interruptExit;
    m_unopened = found.unopened;
    // A scan reads the Memory IDs of every keypad that answered; with none, it has nothing to show.
    if (m_request.command == KEYPAD_SCAN && found.answered.empty()) {
        error = found.Problem();
        return EXIT_FAILED;
    }
    if (m_request.command != KEYPAD_SCAN && (found.answered.empty() || (found.answered.size() > 1 && !m_plan.all))) {
        error =
            found.Problem() + (found.answered.empty() ? "" : "; name one with --port, or use --all to update them all");
        return EXIT_USAGE;
    }
    targets.assign(found.answered.begin(), found.answered.end());
    return EXIT_OK;
}

int CKeypadRun::ReadNamedPorts(std::vector<PortTarget>& targets, std::string& error) {
    for (const std::string& port : m_plan.ports) targets.push_back({port, "", "", "--port " + port});
    size_t given = targets.size();
    if (!m_plan.portsFrom.empty() && !ReadFleetFile(m_plan.portsFrom, targets, error)) {
        error = "--ports-from " + error;
        return EXIT_USAGE;
    }
    if (!BenchSlotTargets(m_plan.profile, m_plan.slots, targets, error)) return EXIT_USAGE;
    if (!m_plan.portsFrom.empty() && targets.size() == given) {  // the wrong file, most likely
        error = "--ports-from " + m_plan.portsFrom + " names no port";
        return EXIT_USAGE;
    }
    if (!CheckPortsDiffer(targets, error)) return EXIT_USAGE;
    // Every station keeps its port busy for good: none may wait for another's turn.
    if (m_request.repeat && targets.size() > static_cast<size_t>(m_plan.jobs)) {
        error = "--repeat keeps every port busy: " + std::to_string(targets.size()) + " ports need --jobs " +
                std::to_string(targets.size());
        return EXIT_USAGE;
    }
    return EXIT_OK;
}

int CKeypadRun::PrepareMany(ISessionSink& errors) {
    if (m_request.command != KEYPAD_FIRMWARE && m_request.command != KEYPAD_SCREENS) return EXIT_OK;
    CKeypadSession checker(m_request, errors, m_policy);
    int code = checker.CheckFileAndAsk();
    if (code != EXIT_OK) return code;
    m_request.yes = true;
    m_request.image = checker.File();
    return EXIT_OK;
}

int CKeypadRun::SkipDone(std::vector<PortTarget>& targets, size_t& skipped, std::vector<PortTarget>& cutOff,
                         std::string& error) {
    skipped = 0;
    if (m_plan.resumeLog.empty()) return EXIT_OK;
    std::set<std::string> done, begun;
    std::map<std::string, std::string> doneSerials;
    const std::string command = KeypadCommandWord(m_request.command), sha256 = ImageSha256();
    if (!ReadDonePorts(m_plan.resumeLog, command, sha256, done, begun, error) ||
        !ReadDoneSerials(m_plan.resumeLog, command, sha256, doneSerials, error)) {
        error = "--resume: " + error;
        return EXIT_USAGE;
    }
    for (const PortTarget& t : targets)
        if (begun.count(DeviceIdentity(t.port))) cutOff.push_back(t);
    size_t before = targets.size();
    // A keypad known by its serial may have moved to another port since.
    std::erase_if(targets, [&](const PortTarget& t) {
        return t.serial.empty() ? done.count(DeviceIdentity(t.port)) > 0 : doneSerials.count(t.serial) > 0;
    });
    skipped = before - targets.size();
    return EXIT_OK;
}

std::string CKeypadRun::ImageSha256() const {
    if (m_request.image) return m_request.image->sha256;
    if (m_request.command != KEYPAD_FIRMWARE && m_request.command != KEYPAD_SCREENS) return "";
    CImageFile image;
    uint64_t length = 0;
    std::string problem;
    FileKind kind = m_request.command == KEYPAD_FIRMWARE ? FILE_FIRMWARE : FILE_SCREENS;
    bool read = ReadImageFile(m_request.file, ImageFileLimit(kind), image, length, problem, [] { return false; }) ==
                FILE_READ_OK;
    return read ? image.sha256 : "";
}

int CKeypadRun::PrepareSerials(std::vector<PortTarget>& targets, std::string& error) {
    if (!m_plan.serial.empty()) {
        if (targets.size() != 1) {
            error = "--serial names the keypad of a single update; a --ports-from file gives each port's serial";
            return EXIT_USAGE;
        }
        targets[0].serial = m_plan.serial;
    }
    std::map<std::string, std::string> named;  // serial: where
    for (const PortTarget& t : targets) {
        if (t.serial.empty()) continue;
        const std::string where = t.source.empty() ? "--serial" : t.source;
        if (!m_plan.serials.pattern.Matches(t.serial)) {
            error = where + ": " + NotASerialText(t.serial);
            return EXIT_USAGE;
        }
        auto [first, fresh] = named.emplace(t.serial, where);
        if (!fresh) {
            error = "the serial " + t.serial + " is named twice: " + first->second + " and " + where;
            return EXIT_USAGE;
        }
    }
    const bool update = m_request.command == KEYPAD_FIRMWARE || m_request.command == KEYPAD_SCREENS;
    bool stationsAsk = m_request.repeat && m_plan.serials.need != SERIAL_OFF;
    if (!update || (named.empty() && !stationsAsk)) return EXIT_OK;
    std::map<std::string, std::string> doneAt;
    // A FIFO's or a device's records are not there to read back: reading would wait for good.
    if (!m_plan.logFile.empty() && QFileInfo(QString::fromStdString(m_plan.logFile)).isFile() &&
        !ReadDoneSerials(m_plan.logFile, KeypadCommandWord(m_request.command), ImageSha256(), doneAt, error))
        return EXIT_USAGE;
    for (const auto& [serial, where] : named)
        if (doneAt.count(serial) && !m_plan.serials.again) {
            error = where + ": " + UpdatedBeforeText(serial, doneAt[serial]) + "; --again updates it again";
            return EXIT_USAGE;
        }
    if (!stationsAsk) return EXIT_OK;
    std::vector<std::string> names;
    for (const PortTarget& t : targets) names.push_back(t.unit.empty() ? t.port : t.unit);
    m_serials = std::make_unique<CSerialDesk>(m_plan.serials, names, doneAt);
    return EXIT_OK;
}

void CKeypadRun::SetOperator(const std::string& name) {
    m_source.operatorName = name;
    m_log.SetSource(m_source);
}

std::set<std::string> CKeypadRun::CutOffInLog() const {
    std::set<std::string> done, cutOff;
    std::string error;
    // A FIFO's or a device's records are not there to read back: reading would wait for good.
    if (!m_plan.logFile.empty() && QFileInfo(QString::fromStdString(m_plan.logFile)).isFile())
        ReadDonePorts(m_plan.logFile, KeypadCommandWord(m_request.command), "", done, cutOff, error);
    return cutOff;
}

// What befell a record written on a keypad's thread, said on this one.
void CKeypadRun::Recorded(const SessionResult& result) {
    if (!result.logNote.empty() && onLogNote) onLogNote(result.logNote);
    if (result.recordLost.empty()) return;
    m_recordLost = true;
    if (onRecordLost) onRecordLost(m_plan.logFile + ": the result could not be written: " + result.recordLost);
}

void CKeypadRun::Record(const SessionResult& result, int retryInMs) {
    SessionResult recorded = result;
    if (m_log.IsOpen()) m_log.Append(result, recorded.recordLost, recorded.logNote);
    Recorded(recorded);
    if (onResult) onResult(result, retryInMs);
}

// Lost records are said in the exit code, below anything that happened to a keypad.
int CKeypadRun::Ended(int code) const { return MoreSeriousExit(code, m_recordLost ? EXIT_RECORDS : EXIT_OK); }

bool CKeypadRun::RunsMany(size_t targets) const {
    bool fleet = !m_plan.portsFrom.empty() || !m_plan.resumeLog.empty() || m_plan.retries > 0;
    return targets > 1 || fleet || m_request.repeat || m_request.command == KEYPAD_SCAN;
}

int CKeypadRun::RunOne(const PortTarget& target, ISessionSink& view) {
    SessionRequest request = m_request;
    request.port = target.port;
    SessionResult begun = BeginUnit(m_log.IsOpen() ? &m_log : nullptr, request, target, 0, 1);
    if (!begun.recordLost.empty()) {
        Recorded(begun);
        if (onResult) onResult(begun, -1);
        return Ended(EXIT_RECORDS);
    }
    CKeypadSession host(request, view, m_policy);
    m_host = &host;
    int code = host.Run(target.device);
    m_host = nullptr;
    SessionResult result = host.Result();
    result.unitId = begun.unitId;
    result.serial = target.serial;
    result.logNote = begun.logNote;
    Record(result, -1);
    return Ended(code);
}

int CKeypadRun::RunMany(const std::vector<PortTarget>& targets, const std::vector<ISessionSink*>& sinks) {
    CGangRunner runner(m_request, m_policy);
    runner.enterKey = enterKey;
    runner.jobs = m_plan.jobs;
    runner.retries = m_plan.retries;
    runner.retryDelayMs = m_plan.retryDelayMs;
    m_tally = CFleetTally(targets, m_request.repeat);
    runner.tally = &m_tally;
    runner.log = m_log.IsOpen() ? &m_log : nullptr;
    runner.serials = m_serials.get();
    runner.onStarted = [this](size_t target) {
        if (onStarted) onStarted(target);
    };
    runner.onResult = [this](const SessionResult& result, int retryInMs) {
        Recorded(result);  // on the disk (or said not to be) before the keypad counts as done
        if (onResult) onResult(result, retryInMs);
    };
    m_runner = &runner;
    runner.Run(targets, m_request.command, sinks);
    m_runner = nullptr;
    m_tally.Conclude();
    std::vector<SessionResult> finals = m_tally.Finals(false);
    if (m_request.command != KEYPAD_SCAN) return Ended(CombinedExitCode(finals, m_interruptExit));
    // A scan's answer is its table: it fails only when no keypad answered at all.
    bool any = std::any_of(finals.begin(), finals.end(), [](const SessionResult& r) { return r.exitCode == EXIT_OK; });
    return Ended(m_interruptExit ? m_interruptExit : any ? EXIT_OK : EXIT_FAILED);
}

void CKeypadRun::Interrupt(int exitCode) {
    m_interruptExit = exitCode;
    if (m_runner)
        m_updatesAborted += m_runner->Interrupt(exitCode);
    else if (m_finder)
        m_finder->Stop(exitCode);
    else if (m_host)
        m_host->Interrupt(exitCode);
}

int CKeypadRun::SetUpStations(std::string& error) {
    if (int code = OpenLog(error)) return code;
    std::vector<PortTarget> targets;
    if (int code = FindTargets(targets, error)) return code;
    CFirstError errors;
    if (int code = PrepareMany(errors)) {
        error = errors.text;
        return code;
    }
    if (int code = PrepareSerials(targets, error)) return code;
    m_stations = targets;
    m_tally = CFleetTally(targets, true);
    m_stationThreads.clear();
    for (size_t i = 0; i < targets.size(); ++i) {
        m_stationThreads.push_back(std::make_unique<CStationThread>(
            m_request, m_plan, m_policy, m_log.IsOpen() ? &m_log : nullptr, m_serials.get(), m_tally, i));
        m_stationThreads.back()->onEnded = [this, i] {
            if (onStationEnded) onStationEnded(i);
        };
    }
    return EXIT_OK;
}

void CKeypadRun::StartStation(size_t station, ISessionSink& view, bool startByOperator) {
    m_stationThreads.at(station)->Start(m_stations[station], view, startByOperator);
}

void CKeypadRun::StopStation(size_t station, int exitCode) { m_stationThreads.at(station)->Stop(exitCode); }

void CKeypadRun::EndStation(size_t station) {
    if (station < m_stationThreads.size()) m_stationThreads[station]->End();
}

void CKeypadRun::NextUnit(size_t station) { m_stationThreads.at(station)->Next(); }

bool CKeypadRun::StationRunning(size_t station) const {
    return station < m_stationThreads.size() && m_stationThreads[station]->IsRunning();
}

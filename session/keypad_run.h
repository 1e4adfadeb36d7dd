#pragma once
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fleet.h"
#include "fleet_tally.h"
#include "result_log.h"
#include "run_plan.h"
#include "session_request.h"
#include "session_sink.h"

class CEnterKey;
class CGangRunner;
class CKeypadFinder;
class CKeypadSession;
class CSerialDesk;
class CStationThread;

// One command run on keypads to its end, for any front end and without a
// terminal: the keypads an auto port finds, the ports named and listed, those
// a log has as done left out, an update's file read and its question asked
// once for many, retries, stations, and a record of every unit (its beginning
// and its end). Each step returns an exit code, EXIT_OK to go on, with `error`
// saying why not. orbix-flash runs its stations all at once (RunMany);
// orbix-bench sets them up alike (SetUpStations) and starts and stops each on
// its own.
//
// Threads: every call on the thread that made it (the owner's), but Tally()'s
// figures, which any thread may read; the callbacks come there too.
class CKeypadRun {
public:
    CKeypadRun(const SessionRequest& request, const RunPlan& plan, ISessionPolicy& policy);
    ~CKeypadRun();

    int OpenLog(std::string& error);
    // The keypads the plan names: an auto port's (a scan naming no port looks
    // at every port the system has), the ports named and listed, or the
    // settings store's port.
    int FindTargets(std::vector<PortTarget>& targets, std::string& error);
    // Before many keypads: an update's file read and its question asked once,
    // the refusal shown by `errors`.
    int PrepareMany(ISessionSink& errors);
    // Leaves out the ports (or, when they have them, the serials) whose last
    // record in the resume log is this command's ok with this file; `cutOff` gets those whose last unit began
    // and never ended, which are run again.
    int SkipDone(std::vector<PortTarget>& targets, size_t& skipped, std::vector<PortTarget>& cutOff,
                 std::string& error);
    // The keypads' serials: --serial for the one keypad, each a pattern's,
    // none named twice, none updated with this image before (by the log)
    // unless --again; stations that ask for each unit's serial get a desk
    // that takes the scans (Serials()).
    int PrepareSerials(std::vector<PortTarget>& targets, std::string& error);
    CSerialDesk* Serials() const { return m_serials.get(); }
    // The operator who writes the records from here on.
    void SetOperator(const std::string& name);
    // Whether these targets go the way of many keypads (progress of each, a
    // summary): more than one, a fleet file, a resume or retries, stations, a scan.
    bool RunsMany(size_t targets) const;
    int RunOne(const PortTarget& target, ISessionSink& view);
    // sinks[i] shows targets[i]; Tally() has the results once it returns.
    int RunMany(const std::vector<PortTarget>& targets, const std::vector<ISessionSink*>& sinks);
    // Stops whichever step runs (Ctrl-C, SIGTERM); the run ends with `exitCode`.
    void Interrupt(int exitCode);

    // A profile's stations: the log opened, the slots found (two on one
    // device refused), the image read with its kind's limit and pin and
    // checked, in orbix-flash's words. Then each station starts and stops on
    // its own, any number of times: `view` takes calls from the station's
    // threads (TakesCallsFromAnyThread) and outlives it.
    int SetUpStations(std::string& error);
    const std::vector<PortTarget>& Stations() const { return m_stations; }
    void StartStation(size_t station, ISessionSink& view, bool startByOperator);
    void StopStation(size_t station, int exitCode);
    // Stops it and waits for it, before its view goes; onStationEnded does not come.
    void EndStation(size_t station);
    // Started by the operator: the station's next unit begins.
    void NextUnit(size_t station);
    bool StationRunning(size_t station) const;
    // The ports (by DeviceIdentity) whose last unit in the log began and never ended.
    std::set<std::string> CutOffInLog() const;
    std::function<void(size_t station)> onStationEnded;

    int InterruptExit() const { return m_interruptExit; }
    // The ports an auto port's search gave up on while they were still opening.
    const std::vector<std::string>& Unopened() const { return m_unopened; }
    int UpdatesAborted() const { return m_updatesAborted; }
    const CFleetTally& Tally() const { return m_tally; }
    // Where the records go; empty: nowhere.
    const std::string& LogFile() const { return m_plan.logFile; }

    CEnterKey* enterKey = nullptr;  // what stations wait for between units, when not removal
    // On this thread: an attempt starts (targets' index); a single keypad's
    // result (RunOne), once in the log (a run of many gives each result to its
    // keypad's sink, as a UNIT_ENDED station event, in order with what it
    // shows); a record the log could not take.
    std::function<void(size_t target)> onStarted;
    std::function<void(const SessionResult&, int retryInMs)> onResult;
    std::function<void(const std::string& error)> onRecordLost;
    // The log was made again at its path (it was removed or replaced).
    std::function<void(const std::string& note)> onLogNote;
    // Each record once whole on the disk, on the thread that wrote it: where the records go next.
    void ForwardRecords(std::function<void(const QByteArray& line)> forward) { m_log.onWritten = std::move(forward); }

private:
    // An auto port: every candidate for a scan, else the keypad that answers
    // the connection test (with the plan's `all`, every one that does).
    int FindKeypads(const std::string& autoPort, std::vector<PortTarget>& targets, std::string& error);
    // The ports named, then those of the fleet file or the profile's slots, each once;
    // stations (a repeat) need a job each.
    int ReadNamedPorts(std::vector<PortTarget>& targets, std::string& error);
    void Record(const SessionResult& result, int retryInMs);
    void Recorded(const SessionResult& result);
    int Ended(int code) const;
    // The image's SHA-256 as its records name it; empty when it cannot be read (the session says why).
    std::string ImageSha256() const;

    SessionRequest m_request;
    const RunPlan m_plan;
    ISessionPolicy& m_policy;
    CResultLog m_log;
    RecordSource m_source;
    std::unique_ptr<CSerialDesk> m_serials;
    CFleetTally m_tally{{}, false};
    CGangRunner* m_runner = nullptr;
    CKeypadFinder* m_finder = nullptr;
    CKeypadSession* m_host = nullptr;
    int m_interruptExit = 0;
    std::vector<std::string> m_unopened;
    int m_updatesAborted = 0;
    bool m_recordLost = false;
    std::vector<PortTarget> m_stations;
    std::vector<std::unique_ptr<CStationThread>> m_stationThreads;
};

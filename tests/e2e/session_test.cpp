// Keypad sessions and the runner for many in-process, against simulated keypads
// on pseudo-terminals: how a session stops before anything is sent, how a run
// stops on a call (from its own thread or another), and how many keypads' exit
// codes combine.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>

#include "session/gang_runner.h"
#include "session/keypad_finder.h"
#include "session/keypad_session.h"
#include "session/serial_desk.h"
#include "sim/pty_server.h"
#include "support/in_process_session.h"

namespace {

// Keeps the failures' reasons.
class CErrorsSink : public CNullSink {
public:
    void Error(const std::string& text) override { errors += text + "\n"; }
    std::string errors;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Keeps what a station was told of the codes scanned for it; called from the station's thread.
class CSerialNewsSink : public CNullSink {
public:
    void Station(const StationEvent& event) override {
        std::lock_guard<std::mutex> lock(mutex);
        news += event.text + "\n";
    }
    std::string News() {
        std::lock_guard<std::mutex> lock(mutex);
        return news;
    }
    std::mutex mutex;
    std::string news;
};

}  // namespace

// Two slots wait for labels on their own threads, as a bench's stations do: a
// code goes to the slot that waited longest, or to the slot whose name was
// scanned just before, and a refusal shows on the slot it would have gone to.
TEST(SerialDesk, ScansGoToTheLongestWaitingOrTheNamedSlot) {
    SerialRules rules;
    std::string error;
    ASSERT_TRUE(rules.pattern.Set("KP-[0-9]{3}", error)) << error;
    rules.askAgain = true;
    CSerialDesk desk(rules, {"Slot 1", "Slot 2"}, {{"KP-900", "2026-12-01T08:00:00.000Z"}});
    CSerialNewsSink sinks[2];
    std::string taken[2];
    std::mutex takenMutex;  // what a thread took, seen after its end (Qt's wait is no sync to TSan)
    auto serial = [&](size_t i) {
        std::lock_guard<std::mutex> lock(takenMutex);
        return taken[i];
    };
    std::atomic<bool> going{true};
    auto station = [&](size_t i) {
        return QThread::create([&, i] {
            std::string got;
            if (!desk.Take(
                    i, sinks[i], [&] { return going.load(); }, [] {}, got))
                return;
            std::lock_guard<std::mutex> lock(takenMutex);
            taken[i] = got;
        });
    };
    auto until = [](const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 10000) QThread::msleep(5);
        return done();
    };
    EXPECT_EQ(desk.Scan("KP-001"), "no slot waits for a label: KP-001 was not taken");
    std::unique_ptr<QThread> first(station(0)), second;
    first->start();
    ASSERT_TRUE(until([&] { return desk.AnyWaiting(); }));
    second.reset(station(1));
    second->start();
    ASSERT_TRUE(until([&] { return desk.Scan("slot 2").empty(); }));  // armed once it waits
    desk.Scan("KP-1");
    ASSERT_TRUE(until([&] { return sinks[1].News() == "KP-1 is not a serial number of this line\n"; }));
    desk.Scan(" KP-001 ");  // the longest waiting gets it
    ASSERT_TRUE(first->wait(10000));
    EXPECT_EQ(serial(0), "KP-001");
    desk.Scan("KP-001");
    desk.Scan("KP-900");
    ASSERT_TRUE(until([&] { return Has(sinks[1].News(), "KP-900 was updated with this image at 2026-1"); }));
    EXPECT_TRUE(Has(sinks[1].News(), "KP-001 is in Slot 1 now\n")) << sinks[1].News();
    desk.Confirm(1, false);  // not again: it waits on
    desk.Scan("KP-002");
    ASSERT_TRUE(second->wait(10000));
    EXPECT_EQ(serial(1), "KP-002");
    desk.Ended(0, "KP-001", true, "2026-12-09T10:00:00.000Z");
    second.reset(station(1));
    second->start();
    ASSERT_TRUE(until([&] { return desk.AnyWaiting(); }));
    going = false;  // Stop cancels the wait
    ASSERT_TRUE(second->wait(10000));
    EXPECT_EQ(serial(1), "KP-002");
}

// An interruption that came while the file was read (before the event loop
// runs) stops the command before the probe: the keypad sees nothing at all.
// A declined erase, and one nobody could answer, send nothing either.
TEST(KeypadSession, AnInterruptionOrAnEraseNotConfirmedSendsNothing) {
    InProcess process("orbix-interrupt-");
    const std::filesystem::path& dir = process.dir;
    SessionRequest request;
    request.command = KEYPAD_FIRMWARE;
    request.file = (dir / "one.s").string();
    std::ofstream(request.file) << "S0030000FC\nS1050000AA0050\n";
    struct Case {
        ISessionPolicy::Answer erase;
        int pending;
        int exitCode;
        const char* reason;
    } cases[] = {
        {ISessionPolicy::ANSWER_YES, EXIT_INTERRUPTED, EXIT_INTERRUPTED, "Interrupted before anything was sent."},
        {ISessionPolicy::ANSWER_NO, 0, EXIT_FAILED, "no erase today"},
        {ISessionPolicy::ANSWER_NONE, 0, EXIT_USAGE, "no erase today"}};
    for (const Case& c : cases) {
        CKeypadPtyServer keypad{KeypadConfig()};
        std::string error;
        ASSERT_TRUE(keypad.Open(error)) << error;
        keypad.Start();
        CScriptedPolicy policy;
        policy.erase = c.erase;
        policy.pending = c.pending;
        CErrorsSink view;
        CKeypadSession host(request, view, policy);
        EXPECT_EQ(host.Run(keypad.DevicePath()), c.exitCode);
        EXPECT_EQ(policy.asked, c.pending ? 0 : 1);
        EXPECT_NE(view.errors.find(c.reason), std::string::npos) << view.errors;
        keypad.Stop();
        EXPECT_EQ(keypad.Model().FramesReceived(), 0u) << c.exitCode;
    }
}

// The runner for many keypads stops on a call: every session running ends
// with the call's code, and so does the run.
TEST(GangRunner, AStopCallEndsEverySession) {
    InProcess process("orbix-gang-stop-");
    KeypadConfig silent;
    silent.silent = true;
    std::vector<std::unique_ptr<CKeypadPtyServer>> keypads;
    std::vector<PortTarget> targets;
    for (int i = 0; i < 2; ++i) {
        keypads.push_back(std::make_unique<CKeypadPtyServer>(silent));
        std::string error;
        ASSERT_TRUE(keypads.back()->Open(error)) << error;
        keypads.back()->Start();
        targets.push_back({keypads.back()->DevicePath(), keypads.back()->DevicePath()});
    }
    SessionRequest request;
    CScriptedPolicy policy;
    CGangRunner runner(request, policy);
    CNullSink quiet;
    std::vector<ISessionSink*> sinks(targets.size(), &quiet);
    QTimer::singleShot(500, [&] { runner.Interrupt(EXIT_TERMINATED); });
    std::vector<SessionResult> results = runner.Run(targets, KEYPAD_TEST, sinks);
    ASSERT_EQ(results.size(), 2u);
    for (const SessionResult& r : results) EXPECT_EQ(r.exitCode, EXIT_TERMINATED) << r.port;
    EXPECT_EQ(CombinedExitCode(results, EXIT_TERMINATED), EXIT_TERMINATED);
    for (auto& keypad : keypads) keypad->Stop();
}

// A slot of a production line as the bench runs it: its keypad found among the ports (one
// silent), its station run on a thread of its own and stopped from this one once a unit has
// ended. That unit's result is the run's only one: the station waiting for the keypad's removal
// ends on the call and records nothing. Under ThreadSanitizer this is where the runner, its
// queue, the station and the finder are seen sharing state between threads.
TEST(GangRunner, AStationFoundAndStoppedFromAnotherThread) {
    InProcess process("orbix-gang-station-");
    KeypadConfig silent;
    silent.silent = true;
    CKeypadPtyServer answering{KeypadConfig()}, quiet{silent};
    for (CKeypadPtyServer* keypad : {&answering, &quiet}) {
        std::string error;
        ASSERT_TRUE(keypad->Open(error)) << error;
        keypad->Start();
    }
    KeypadSearch search = CKeypadFinder().Run({quiet.DevicePath(), answering.DevicePath()});
    ASSERT_EQ(search.answered, std::vector<std::string>{answering.DevicePath()}) << search.Problem();

    SessionRequest request;
    request.repeat = true;
    CScriptedPolicy policy;
    CGangRunner runner(request, policy);
    // Relaxed: nothing orders the slot's thread before the stop call here, as nothing orders it
    // before a window's click, so what the two share unguarded is seen.
    std::atomic<int> units{0};
    runner.onResult = [&](const SessionResult&, int) { units.fetch_add(1, std::memory_order_relaxed); };
    CNullSink view;
    const std::vector<PortTarget> targets{PortTarget(search.answered[0], search.answered[0])};
    std::vector<SessionResult> results;
    std::unique_ptr<QThread> slot(QThread::create([&] { results = runner.Run(targets, KEYPAD_TEST, {&view}); }));
    runner.moveToThread(slot.get());
    slot->start();
    QElapsedTimer waited;
    waited.start();
    while (units.load(std::memory_order_relaxed) == 0 && waited.elapsed() < 30000) QThread::msleep(20);
    runner.Interrupt(EXIT_TERMINATED);
    ASSERT_TRUE(slot->wait(10000));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].exitCode, EXIT_OK);
}

// Two keypads' codes against each other, each row and column in the order
// 0 1 2 3 4 130 143: what the run exits with (4, records lost, is the run's own).
TEST(CombinedExitCode, EveryPairRanksByWhatTheLineMustKnowFirst) {
    const int codes[] = {0, 1, 2, 3, 4, 130, 143};
    const int combined[7][7] = {{0, 1, 2, 3, 4, 130, 143},          {1, 1, 1, 3, 4, 130, 143},
                                {2, 1, 2, 3, 4, 130, 143},          {3, 3, 3, 3, 3, 130, 143},
                                {4, 4, 4, 3, 4, 130, 143},          {130, 130, 130, 130, 130, 130, 143},
                                {143, 143, 143, 143, 143, 143, 143}};
    for (int i = 0; i < 49; ++i) {
        SessionResult a, b;
        a.exitCode = codes[i / 7];
        b.exitCode = codes[i % 7];
        EXPECT_EQ(CombinedExitCode({a, b}, 0), combined[i / 7][i % 7]) << a.exitCode << " with " << b.exitCode;
    }
}

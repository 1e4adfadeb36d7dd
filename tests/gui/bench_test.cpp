// The production bench driven whole, against simulated keypads on pseudo-terminals.
#ifdef ORBIX_HAVE_SIM

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <map>
#include <mutex>

#include "link/messages.h"
#include "production/bench_window.h"
#include "production/slot_panel.h"
#include "production/unit_rate.h"
#include "session/image_file.h"
#include "session/run_defaults.h"
#include "session/shift_report.h"
#include "sim/loopback_keypad.h"
#include "sim/pty_server.h"
#include "support/postgres_server.h"
#include "window_fixture.h"

namespace {

// Quick keypads, slow enough that an update can be caught in its data.
KeypadConfig QuickKeypad() {
    KeypadConfig config;
    config.eraseMsPerSector = 20;
    config.writeMsPerChunk = 4;
    return config;
}

// Types `text` and Enter as a scanner does, a character every few milliseconds, into whatever has
// focus: on a display through the X server, else as Qt's own key events.
void TypeAsAScanner(const QString& text) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        QProcess::execute(QStringLiteral("xdotool"), {"type", "--delay", "4", text});
        QProcess::execute(QStringLiteral("xdotool"), {"key", "Return"});
    } else {
        QTest::keyClicks(QApplication::focusWidget(), text, Qt::NoModifier, 4);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
}

// Pixels whose colour differs by more than a tenth in a channel.
int DifferingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return a.width() * a.height();
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) > 25 || std::abs(p.green() - q.green()) > 25 ||
                std::abs(p.blue() - q.blue()) > 25)
                ++differing;
        }
    return differing;
}

// The links' folder has a fixed name, since the panels show it: one test at a time uses it, also
// across the processes of a parallel run and across build trees.
class CLinkFolderLock {
public:
    CLinkFolderLock()
        : m_fd(open(QDir::temp().filePath(QStringLiteral("orbix-bench-test.lock")).toLocal8Bit(),
                    O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (m_fd >= 0) flock(m_fd, LOCK_EX);
    }
    ~CLinkFolderLock() {
        if (m_fd >= 0) close(m_fd);
    }

private:
    int m_fd;
};

class BenchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        image = TestPattern(24000);
        WriteSRecordFile(dir.filePath("update.s"), image);
        CImageFile file;
        uint64_t length = 0;
        std::string problem;
        ASSERT_EQ(
            ReadImageFile(dir.filePath("update.s").toStdString(), 1 << 20, file, length, problem, [] { return false; }),
            FILE_READ_OK);
        profile.image = "update.s";
        profile.sha256 = file.sha256;
        profile.log = "records.jsonl";
        window.warn = [this](const std::string& text) { warnings.push_back(text); };
    }
    void TearDown() override {
        for (auto& keypad : keypads)
            if (keypad) keypad->Stop();
    }
    // A keypad behind a link of a fixed name, so the panels' titles are the same every run.
    CKeypadPtyServer& AddKeypad(const KeypadConfig& config) {
        keypads.push_back(std::make_unique<CKeypadPtyServer>(config));
        CKeypadPtyServer& keypad = *keypads.back();
        std::string error;
        EXPECT_TRUE(keypad.Open(error)) << error;
        const size_t n = keypads.size();
        const QString link = linkDir.filePath(QStringLiteral("slot-%1").arg(n));
        QFile::remove(link);
        QFile::link(QString::fromStdString(keypad.DevicePath()), link);
        profile.slots.push_back({"Slot " + std::to_string(n), link.toStdString()});
        return keypad;
    }
    void OpenProfile() {
        std::string error;
        ASSERT_TRUE(SaveBenchProfile(dir.filePath("bench.orbix-bench").toStdString(), profile, error)) << error;
        ASSERT_TRUE(window.OpenProfile(dir.filePath("bench.orbix-bench").toStdString()));
        window.resize(1000, 480);
        window.show();
    }
    // The log's results, and with `begins` each unit's begin record before its result.
    std::vector<QJsonObject> Records(bool begins = false) {
        QFile file(dir.filePath("records.jsonl"));
        std::vector<QJsonObject> records;
        if (!file.open(QIODevice::ReadOnly)) return records;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (!line.isEmpty() && (begins || o["type"] != "begin")) records.push_back(o);
        }
        return records;
    }

    CLinkFolderLock linkFolderLock;
    QTemporaryDir dir;
    QDir linkDir{QDir::temp().filePath(QStringLiteral("orbix-bench-test"))};
    std::vector<uint8_t> image;
    BenchProfile profile;
    std::vector<std::unique_ptr<CKeypadPtyServer>> keypads;
    std::vector<std::string> warnings;
    CBenchWindow window;
};

// Four stations: two keypads in turn on slots 1 and 2, a keypad answering Failed mid-data on
// slot 3 and then a good one, and slot 4's port vanishing while it sends.
TEST_F(BenchTest, FourStationsRecordEveryUnitAndOnlyTheVanishedPortStops) {
    QDir().mkpath(linkDir.path());
    std::mutex mutex;
    std::map<int, std::vector<std::vector<uint8_t>>> leftWith;  // per slot, what each keypad taken out held
    for (int slot = 1; slot <= 3; ++slot) {
        KeypadConfig config = QuickKeypad();
        if (slot == 3) {
            config.failCommand = CMD_FW_DATA;
            config.failOccurrence = 20;
        }
        CKeypadPtyServer& keypad = AddKeypad(config);
        keypad.swapAfterUpdateMs = 1500;  // off the cable long enough to be seen gone on a loaded machine
        keypad.swapsLeft = 1;
        keypad.onSwap = [&, slot](const CKeypadModel& leaving, KeypadConfig& next) {
            std::lock_guard<std::mutex> lock(mutex);
            leftWith[slot].push_back(leaving.AreaContents(KEYPAD_AREA_FIRMWARE));
            next = QuickKeypad();
        };
    }
    AddKeypad(QuickKeypad());
    for (auto& keypad : keypads) keypad->Start();
    OpenProfile();
    ASSERT_EQ(window.Refusal(), "");
    window.StartAll();

    CBenchSlot& vanishing = window.Slot(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return vanishing.BarUpper() == 100 && vanishing.BarPosition() >= 10; }, 20000));
    keypads[3].reset();  // the port goes with its pseudo-terminal
    // Stopping slot 1's update asks, as it has erased; the question goes by itself once the update ends.
    ASSERT_TRUE(window.Slot(0).HasErased());
    for (QPushButton* button : window.Panel(0).findChildren<QPushButton*>())
        if (button->text() == "Stop") button->click();
    QPointer<QMessageBox> question = window.findChild<QMessageBox*>();
    ASSERT_TRUE(question && question->isVisible());
    EXPECT_TRUE(question->text().startsWith("Stop the update in Slot 1?")) << question->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Slot(0).Ok() == 1; }, 20000));
    EXPECT_TRUE(!question || !question->isVisible());
    EXPECT_TRUE(window.Slot(0).IsRunning());  // unanswered, it stopped nothing
    auto finished = [&] {
        return window.Slot(0).Ok() == 2 && window.Slot(1).Ok() == 2 && window.Slot(2).Ok() == 1 &&
               window.Slot(2).State() == SLOT_DONE && !vanishing.IsRunning();
    };
    ASSERT_TRUE(QTest::qWaitFor(finished, 60000)) << window.Slot(2).StateText() << " / " << vanishing.StateText();

    // Only the vanished port's slot stopped, saying why; the others went on.
    window.RefreshPanels();
    EXPECT_EQ(vanishing.State(), SLOT_STOPPED);
    const QString shown = window.Panel(3).StateText();
    EXPECT_TRUE(shown.startsWith("Stopped: its port") && shown.contains("has gone")) << shown.toStdString();
    EXPECT_EQ(window.Slot(2).Failed(), 1);
    EXPECT_EQ(window.OkCount(), 5);
    EXPECT_EQ(window.FailedCount(), 2);
    bool yieldShown = false;
    for (QLabel* label : window.findChildren<QLabel*>())
        yieldShown |= label->text().contains(QStringLiteral("ok 5   failed 2   yield 71.4%"));
    EXPECT_TRUE(yieldShown);
    EXPECT_EQ(window.Records()->count(), 7);

    // Every unit on the disk, in orbix-flash's format, named by its slot.
    std::map<std::string, std::vector<int>> exits;
    for (const QJsonObject& record : Records()) {
        EXPECT_EQ(record["type"].toString(), "result");
        EXPECT_EQ(record["sha256"].toString().toStdString(), profile.sha256);
        EXPECT_EQ(record["file"].toString(), dir.filePath("update.s"));
        exits[record["unit"].toString().toStdString()].push_back(record["exit_code"].toInt());
    }
    EXPECT_EQ(exits["Slot 1"], (std::vector<int>{0, 0}));
    EXPECT_EQ(exits["Slot 2"], (std::vector<int>{0, 0}));
    EXPECT_EQ(exits["Slot 3"], (std::vector<int>{EXIT_INCOMPLETE, 0}));
    ASSERT_EQ(exits["Slot 4"].size(), 1u);
    EXPECT_NE(exits["Slot 4"][0], 0);

    // A picture of the panels as they stand, against the one committed.
    QTest::qWait(100);
    const QImage shot = window.SlotArea()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString reference = QStringLiteral(ORBIX_SOURCE_DIR "/tests/gui/reference/bench-four-slots.png");
    const QString kept = QDir::temp().filePath(QStringLiteral("bench-four-slots.png"));
    shot.save(kept);
    const QImage expected(reference);
    EXPECT_LE(DifferingPixels(shot, expected.convertToFormat(QImage::Format_RGB32)), 100)
        << "see " << kept.toStdString() << " against " << reference.toStdString();

    window.StopAll(false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !window.Slot(0).IsRunning() && !window.Slot(1).IsRunning() && !window.Slot(2).IsRunning(); },
        10000));
    EXPECT_EQ(Records().size(), 7u);  // stations waiting for removal leave no record
    // Every keypad that answered ok holds the image, byte for byte.
    for (int slot = 0; slot < 3; ++slot) {
        keypads[slot]->Stop();
        EXPECT_EQ(keypads[slot]->Model().AreaContents(KEYPAD_AREA_FIRMWARE), image) << "slot " << slot + 1;
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(leftWith[1].at(0), image);
    EXPECT_EQ(leftWith[2].at(0), image);
    EXPECT_NE(leftWith[3].at(0), image);  // the one that failed
    QDir(linkDir).removeRecursively();
}

// The keypad --simulate serves where there are no pseudo-terminals comes, is updated and goes by
// itself, as on a cable: its station updates one after another.
TEST_F(BenchTest, LoopbackKeypadsComeAndGoByThemselves) {
    CLoopbackKeypad keypad(QuickKeypad());
    std::string error;
    ASSERT_TRUE(keypad.Open(error)) << error;
    keypad.firstKeypadAfterMs = 300;
    keypad.swapAfterUpdateMs = 1500;
    keypad.swapsLeft = 1;
    std::atomic<int> failedLeft{0};
    keypad.onSwap = [&](const CKeypadModel& leaving, KeypadConfig& next) {
        failedLeft += leaving.AreaContents(KEYPAD_AREA_FIRMWARE) != image;
        next = QuickKeypad();
    };
    keypad.Start();
    profile.slots.push_back({"Slot 1", keypad.DevicePath()});
    OpenProfile();
    window.StartAll();
    bool sawItGo = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            sawItGo |= window.Slot(0).Ok() == 1 && window.Slot(0).State() == SLOT_WAITING;
            return window.Slot(0).Ok() == 2;
        },
        30000))
        << window.Slot(0).StateText();
    EXPECT_TRUE(sawItGo);
    EXPECT_EQ(failedLeft, 0);
    EXPECT_EQ(Records().size(), 2u);
    window.StopAll(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Slot(0).IsRunning(); }, 10000));
}

// One operator's slot through a shift: two slots on one device refused; a log that shows the last
// keypad cut off; Start, a unit that fails and is tried again (one ok unit); Stop and Start again;
// the log removed meanwhile and made again; a hang-up mid-update recorded as interrupted.
TEST_F(BenchTest, OperatorSlotRetriesRestartsOutlivesItsLogAndHangsUp) {
    QDir().mkpath(linkDir.path());
    KeypadConfig failsOnce = QuickKeypad();
    failsOnce.failCommand = CMD_FW_DATA;
    failsOnce.failOccurrence = 20;
    CKeypadPtyServer& keypad = AddKeypad(failsOnce);
    keypad.Start();
    profile.slots.push_back({"Slot 2", keypad.DevicePath()});  // the link's target
    OpenProfile();
    EXPECT_NE(window.Refusal().find("are the same port"), std::string::npos) << window.Refusal();

    profile.slots.pop_back();
    profile.startByOperator = true;
    profile.retries = 1;
    qputenv("ORBIX_RETRY_DELAY_MS", "200");
    const QString log = dir.filePath("records.jsonl");
    {
        QFile cut(log);
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
        SessionResult begun = BegunUnit(profile.slots[0].port, "Slot 1", 0, 1);
        begun.command = "firmware";
        cut.write(JsonLine(BeginObject(begun)));
    }
    OpenProfile();
    qunsetenv("ORBIX_RETRY_DELAY_MS");
    ASSERT_EQ(window.Refusal(), "");
    EXPECT_NE(window.Slot(0).StateText().find("cut off"), std::string::npos) << window.Slot(0).StateText();

    CBenchSlot& slot = window.Slot(0);
    window.StartAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slot.Ok() == 1 && slot.AwaitsStart(); }, 30000)) << slot.StateText();
    EXPECT_EQ(slot.Failed(), 0);  // tried again, then updated: one ok unit
    EXPECT_EQ(window.FailedCount(), 0);
    window.StopAll(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !slot.IsRunning(); }, 10000));
    EXPECT_EQ(slot.StateText(), "Stopped: press Start to go on");

    ASSERT_TRUE(QFile::remove(log));
    window.StartAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slot.Ok() == 2 && slot.AwaitsStart(); }, 30000)) << slot.StateText();
    QTest::qWait(300);
    EXPECT_TRUE(slot.IsRunning()) << slot.StateText();  // it waits for the operator, as before the stop
    EXPECT_FALSE(window.Records()->findItems("was removed or replaced", Qt::MatchContains).isEmpty());

    window.StartAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slot.HasErased(); }, 20000)) << slot.StateText();
    window.Quit(128 + SIGHUP);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !slot.IsRunning(); }, 10000));

    // The log made again holds the second unit and the third, each begun before it was sent anything.
    const std::vector<QJsonObject> records = Records(true);
    ASSERT_EQ(records.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i]["type"].toString(), i % 2 ? "result" : "begin");
        EXPECT_EQ(records[i]["unit_id"], records[i - i % 2]["unit_id"]);
    }
    EXPECT_EQ(records[1]["outcome"].toString(), "ok");
    EXPECT_EQ(records[3]["outcome"].toString(), "interrupted");
    EXPECT_EQ(records[3]["exit_code"].toInt(), 129);
    QDir(linkDir).removeRecursively();
}

// A profile made in the bench, saved and read back; locked: nothing to change but Start and Stop,
// and the password to unlock. Pinned: another image, in a profile dropped on the window, is
// refused before a byte goes out.
// A log that is a FIFO whose reader takes nothing: the slot stops with the reason, and the window
// answers all the while (no record is written from its thread).
TEST_F(BenchTest, AFullFifoLogStopsItsSlotWhileTheWindowAnswers) {
    QDir().mkpath(linkDir.path());
    AddKeypad(QuickKeypad()).Start();
    const QByteArray fifo = dir.filePath("records.jsonl").toLocal8Bit();
    ASSERT_EQ(mkfifo(fifo, 0600), 0);
    const int reader = open(fifo, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int filler = open(fifo, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const std::string block(4096, '\n');
    while (write(filler, block.data(), block.size()) > 0) {
    }
    OpenProfile();
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    tick.start(50);
    window.StartAll();
    CBenchSlot& slot = window.Slot(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !slot.IsRunning(); }, 30000)) << slot.StateText();
    EXPECT_EQ(slot.State(), SLOT_STOPPED);
    EXPECT_EQ(slot.StateText(), "Slot 1: stopped: a record could not be written to " + fifo.toStdString() +
                                    ": nothing took it for 5 s (has the pipe's reader gone?); it was the unit's "
                                    "begin record, so the unit was not started");
    EXPECT_LT(longestGap, 1000) << "the window's thread was held up";
    close(filler);
    close(reader);
    QDir(linkDir).removeRecursively();
}

// Units per hour over the last hour, or since the first Start when shorter: the figure moves on
// while nothing ends, and an hour later the units before it no longer count.
TEST(UnitRate, OverTheLastHourMovingAsTimePasses) {
    CUnitRate rate;
    EXPECT_LT(rate.PerHour(30'000), 0);                                     // none yet
    for (int64_t at = 60'000; at <= 600'000; at += 60'000) rate.Ended(at);  // 10 units in the first 10 minutes
    EXPECT_DOUBLE_EQ(rate.PerHour(600'000), 60);
    EXPECT_DOUBLE_EQ(rate.PerHour(1'800'000), 20);
    EXPECT_DOUBLE_EQ(rate.PerHour(3'600'000 + 300'000), 5);  // five of them within the hour
    EXPECT_DOUBLE_EQ(rate.PerHour(5 * 3'600'000), 0);
}

// A keypad swapped quicker than the station can see it go: the slot says so, rather than wait unsaid.
TEST_F(BenchTest, ASwapTooFastToBeSeenIsSaid) {
    QDir().mkpath(linkDir.path());
    CKeypadPtyServer& keypad = AddKeypad(QuickKeypad());
    keypad.swapAfterUpdateMs = 50;
    keypad.swapsLeft = 1;
    keypad.Start();
    OpenProfile();
    window.StartAll();
    CBenchSlot& slot = window.Slot(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return slot.Ok() == 1; }, 20000)) << slot.StateText();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slot.StateText().find("not seen to leave") != std::string::npos; }, 15000))
        << slot.StateText();
    EXPECT_EQ(slot.State(), SLOT_DONE);
    window.StopAll(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !slot.IsRunning(); }, 10000));
    QDir(linkDir).removeRecursively();
}

// Benches of 4 to 32 slots on the two screens a line has: every panel wholly in view without
// scrolling, each reason whole (a failure's, and ports that are not there with long by-id names).
TEST_F(BenchTest, EverySlotInViewWithItsWholeReasonFrom4To32Slots) {
    QDir().mkpath(linkDir.path());
    for (int count : {4, 8, 16, 32}) {
        keypads.clear();
        profile.slots.clear();
        KeypadConfig fails = QuickKeypad();
        fails.failCommand = CMD_FW_DATA;
        fails.failOccurrence = 20;
        AddKeypad(fails).Start();
        for (int i = 2; i <= count; ++i)
            profile.slots.push_back({"Slot " + std::to_string(i), "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5" +
                                                                      std::to_string(10 + i) + "-if00-port0"});
        OpenProfile();
        window.StartAll();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (size_t i = 1; i < window.SlotCount(); ++i)
                    if (window.Slot(i).IsRunning()) return false;
                return window.Slot(0).State() == SLOT_FAILED;
            },
            20000))
            << window.Slot(0).StateText();
        for (QSize screen : {QSize(1366, 768), QSize(1920, 1080)}) {
            window.resize(screen);
            QTest::qWait(50);
            const QImage shot = window.SlotArea()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QWidget* area = qobject_cast<QScrollArea*>(window.SlotArea())->viewport();
            for (size_t i = 0; i < window.SlotCount(); ++i) {
                const QRect panel(window.Panel(i).mapTo(area, QPoint(0, 0)), window.Panel(i).size());
                EXPECT_TRUE(area->rect().contains(panel)) << count << " slots, " << i << " out of view";
                EXPECT_TRUE(window.Panel(i).Face().BodyWhole()) << count << " slots, " << window.Slot(i).StateText();
            }
            const QString name = QStringLiteral("bench-%1-slots-%2.png").arg(count).arg(screen.width());
            const QString kept = QDir::temp().filePath(name);
            shot.save(kept);
            const QImage expected(QStringLiteral(ORBIX_SOURCE_DIR "/tests/gui/reference/") + name);
            EXPECT_LE(DifferingPixels(shot, expected.convertToFormat(QImage::Format_RGB32)), 100)
                << "see " << kept.toStdString();
        }
        window.StopAll(false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Slot(0).IsRunning(); }, 10000));
    }
    QDir(linkDir).removeRecursively();
}

// A line scanning its keypads' labels on three slots: the operator's badge typed into the question
// before the first Start; every code typed as a scanner types it while Slot 3's Stop has focus (a
// slot's own name, with its space, choosing the slot for the next code); a code that is none of the
// line's, a serial another slot holds, and one updated before (declined) refused or asked on the
// panel; every record naming its keypad and who wrote it; the report counting what the log holds.
TEST_F(BenchTest, LabelsScannedIntoEveryRecordAndTheReportCountsThem) {
    QDir().mkpath(linkDir.path());
    KeypadConfig slow = QuickKeypad();
    slow.writeMsPerChunk = 20;  // its update lasts while the other slots' labels are scanned
    CKeypadPtyServer& first = AddKeypad(slow);
    first.swapAfterUpdateMs = 1500;
    first.swapsLeft = 1;
    first.onSwap = [](const CKeypadModel&, KeypadConfig& next) { next = QuickKeypad(); };
    AddKeypad(QuickKeypad()).Start();
    AddKeypad(QuickKeypad()).Start();
    first.Start();
    profile.serial = SERIAL_REQUIRED;
    profile.serialPattern = "KP-[0-9]{6}";
    profile.station = "Line 3 bench A";
    profile.operatorRequired = true;
    OpenProfile();
    auto activate = [](QWidget* top) {
        return QTest::qWaitFor([&] { return top->activateWindow(), QApplication::activeWindow() == top; });
    };
    ASSERT_TRUE(activate(&window));
    window.StartAll();
    auto* badge = window.findChild<QInputDialog*>(QStringLiteral("operator"));
    ASSERT_TRUE(badge && !window.Slot(0).IsRunning() && activate(badge));  // nobody named yet
    TypeAsAScanner(QStringLiteral("Ada Lind"));                            // the dialog's own keys
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Operator() == "Ada Lind"; }, 5000) && activate(&window));
    // Typed, then what the panel it went to shows: its serial taken, or why not.
    auto scan = [&](const QString& typed, size_t slot, const QString& shown) {
        for (const QString& code : typed.split('\n')) TypeAsAScanner(code);
        return QTest::qWaitFor(
            [&] {
                window.RefreshPanels();
                return window.Slot(slot).Serial() == shown.toStdString() ||
                       window.Panel(slot).StateText().startsWith(shown);
            },
            20000);
    };
    for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(scan("", i, "Scan the label of the keypad in Slot"));
    auto button = [&](size_t slot, const QString& text) {
        for (QPushButton* b : window.Panel(slot).findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return static_cast<QPushButton*>(nullptr);
    };
    QPushButton* stop3 = button(2, "Stop");
    stop3->setFocus();
    EXPECT_TRUE(scan("Slot 1\nKP-000001", 0, "KP-000001"));
    EXPECT_TRUE(scan("Slot 2\nKP123", 1, "KP123 is not a serial number of this line"));
    window.SlotArea()->grab().save(QDir::temp().filePath(QStringLiteral("bench-labels.png")));  // to look at
    EXPECT_TRUE(scan("Slot 3\nKP-000001", 2, "KP-000001 is in Slot 1 now"));
    EXPECT_TRUE(scan("Slot 2\nKP-000002", 1, "KP-000002"));
    EXPECT_TRUE(scan("KP-000003", 2, "KP-000003"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Slot(1).Ok() == 1 && window.Slot(0).Ok() == 1; }, 30000));
    // Slot 1's next keypad, labelled as one updated already: asked, declined, its own label then.
    EXPECT_TRUE(scan("", 0, "Scan the label") && scan("KP-000002", 0, "KP-000002 was updated with this image at"));
    button(0, "Not again")->click();
    EXPECT_TRUE(scan("", 0, "Scan the label") && scan("KP-000004", 0, "KP-000004"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Slot(0).Ok() == 2 && window.Slot(2).Ok() == 1; }, 30000));
    TypeAsAScanner(QStringLiteral("KP-000009"));  // no slot waits
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.statusBar()->currentMessage().startsWith("no slot waits"); }));
    EXPECT_TRUE(window.Slot(2).IsRunning() && stop3->hasFocus());  // no key reached the button
    window.StopAll(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Slot(0).IsRunning() && !window.Slot(2).IsRunning(); }, 10000));

    std::map<std::string, std::string> serials;  // serial: slot
    int ok = 0;                                  // counted from the log's lines
    for (const QJsonObject& r : Records()) {
        serials[r["serial"].toString().toStdString()] = r["unit"].toString().toStdString();
        ok += r["outcome"].toString() == "ok";
        EXPECT_EQ(r["station"].toString() + ", " + r["operator"].toString() + ", " + r["profile"].toString(),
                  "Line 3 bench A, Ada Lind, bench.orbix-bench");
        EXPECT_TRUE(r["program"].toString().startsWith("orbix-bench ") && r["profile_sha256"].toString().size() == 64);
    }
    EXPECT_EQ(serials,
              (std::map<std::string, std::string>{
                  {"KP-000001", "Slot 1"}, {"KP-000002", "Slot 2"}, {"KP-000003", "Slot 3"}, {"KP-000004", "Slot 1"}}));
    ShiftReport report;
    std::string error;
    ASSERT_TRUE(ReadShiftReport({dir.filePath("records.jsonl").toStdString()}, report, error)) << error;
    EXPECT_EQ(report.total.ok, ok);
    EXPECT_EQ(report.byStation["Line 3 bench A"].Units(), static_cast<int>(Records().size()));
    QDir(linkDir).removeRecursively();
}

TEST_F(BenchTest, ProfileMadeLockedDroppedAndPinned) {
    QDir().mkpath(linkDir.path());
    CKeypadPtyServer& keypad = AddKeypad(QuickKeypad());
    keypad.Start();
    auto menuAction = [&](const QString& text) {
        for (QAction* entry : window.menuBar()->findChildren<QAction*>())
            if (entry->text().startsWith(text)) return entry;
        return static_cast<QAction*>(nullptr);
    };
    const QString made = dir.filePath("made.orbix-bench");
    window.show();
    OnNextModal<QDialog>([&](QDialog* dialog) {
        auto field = [&](const QString& label) {
            for (QLabel* name : dialog->findChildren<QLabel*>())
                if (name->text() == label) return qobject_cast<QLineEdit*>(name->buddy());
            return static_cast<QLineEdit*>(nullptr);
        };
        field("&Image:")->setText(dir.filePath("update.s"));
        field("Re&cords log:")->setText(dir.filePath("records.jsonl"));
        field("Unlock &password:")->setText("line 4");
        dialog->findChild<QCheckBox*>()->setChecked(true);
        for (QComboBox* box : dialog->findChildren<QComboBox*>())
            if (box->accessibleName() == "Port to add") box->setEditText(QString::fromStdString(profile.slots[0].port));
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == "&Add slot") button->click();
        OnNextModal<QFileDialog>([&](QFileDialog* save) {
            save->selectFile(made);
            static_cast<QDialog*>(save)->accept();  // QFileDialog hides it
        });
        dialog->accept();
    });
    menuAction("&New profile")->trigger();
    ASSERT_TRUE(warnings.empty()) << warnings[0];
    BenchProfile saved;
    std::string error;
    ASSERT_TRUE(LoadBenchProfile(made.toStdString(), saved, error)) << error;
    EXPECT_EQ(saved.image, "update.s");  // beside the profile: relative, so the folder copies whole
    EXPECT_EQ(saved.log, "records.jsonl");
    EXPECT_EQ(saved.sha256, profile.sha256);
    EXPECT_TRUE(saved.locked && !saved.startByOperator);
    EXPECT_TRUE(BenchPasswordMatches(saved, "line 4") && !BenchPasswordMatches(saved, "line 5"));
    ASSERT_EQ(saved.slots.size(), 1u);
    EXPECT_EQ(saved.slots[0].name, "Slot 1");
    EXPECT_EQ(saved.slots[0].port, profile.slots[0].port);
    EXPECT_TRUE(window.windowTitle().endsWith("made.orbix-bench")) << window.windowTitle().toStdString();
    window.resize(1000, 480);

    EXPECT_TRUE(window.IsLocked());
    auto enabled = [&](auto* widget) { return widget->isEnabled() && widget->isVisibleTo(&window); };
    for (QWidget* edit : window.findChildren<QLineEdit*>()) EXPECT_FALSE(enabled(edit));
    for (QWidget* box : window.findChildren<QComboBox*>()) EXPECT_FALSE(enabled(box));
    for (QWidget* box : window.findChildren<QCheckBox*>()) EXPECT_FALSE(enabled(box));
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (enabled(button)) {
            EXPECT_TRUE(button->text() == "Start" || button->text() == "Stop");
        }
    QAction* lock = menuAction("Un&lock");
    ASSERT_NE(lock, nullptr);
    for (const char* password : {"line 5", "line 4"}) {
        OnNextModal<QInputDialog>([password](QInputDialog* ask) {
            ask->setTextValue(password);
            ask->accept();
        });
        lock->trigger();
    }
    EXPECT_EQ(warnings.size(), 1u);  // the wrong one said so
    EXPECT_FALSE(window.IsLocked());

    // Another image: refused, saying which was found and which expected; nothing is sent.
    const std::string pinned = profile.sha256;
    WriteSRecordFile(dir.filePath("update.s"), TestPattern(24001));
    warnings.clear();
    SetBenchPassword(profile, "line 4");
    const QString dropped = dir.filePath("bench.orbix-bench");
    ASSERT_TRUE(SaveBenchProfile(dropped.toStdString(), profile, error)) << error;
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(dropped)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !warnings.empty(); }, 5000));
    EXPECT_TRUE(window.windowTitle().endsWith("bench.orbix-bench"));
    EXPECT_NE(window.Refusal().find(pinned), std::string::npos) << window.Refusal();
    window.StartAll();
    EXPECT_FALSE(window.Slot(0).IsRunning());
    QTest::qWait(500);
    keypad.Stop();
    EXPECT_EQ(keypad.Model().FramesReceived(), 0);

    // Edited, its image untouched: the pin stays (the image swapped meanwhile is not taken), and
    // the retries and stall time-out go as high as a profile's file may.
    auto editProfile = [&](std::function<void(QDialog*)> change) {
        OnNextModal<QDialog>([&](QDialog* dialog) {
            change(dialog);
            dialog->accept();
        });
        menuAction("&Edit profile")->trigger();
    };
    auto spinBox = [](QDialog* dialog, const QString& label) {
        for (QLabel* name : dialog->findChildren<QLabel*>())
            if (name->text() == label) return qobject_cast<QSpinBox*>(name->buddy());
        return static_cast<QSpinBox*>(nullptr);
    };
    // The keypads' labels too: a pattern that does not compile is refused in the dialog.
    editProfile([&](QDialog* dialog) {
        spinBox(dialog, "&Retries:")->setValue(MOST_RETRIES);
        spinBox(dialog, "&Stall time-out:")->setValue(MOST_STALL_TIMEOUT_SECONDS);
        auto buddy = [&](const QString& label) {
            for (QLabel* name : dialog->findChildren<QLabel*>())
                if (name->text() == label) return name->buddy();
            return static_cast<QWidget*>(nullptr);
        };
        qobject_cast<QComboBox*>(buddy("Keypad's &label:"))->setCurrentIndex(2);
        auto* pattern = qobject_cast<QLineEdit*>(buddy("Serial pa&ttern:"));
        pattern->setText("KP-[0-9");
        dialog->accept();
        EXPECT_TRUE(dialog->isVisible());  // refused, saying why
        pattern->setText("KP-[0-9]{6}");
        qobject_cast<QLineEdit*>(buddy("Station &name:"))->setText("Line 3 bench A");
        for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
            if (box->text().startsWith("Ask for the operator")) box->setChecked(true);
    });
    // Locking is written into the profile: it opens locked from then on.
    lock->trigger();  // no question: the profile has its password
    BenchProfile reread;
    const QString profilePath = dir.filePath("bench.orbix-bench");
    ASSERT_TRUE(LoadBenchProfile(profilePath.toStdString(), reread, error)) << error;
    EXPECT_TRUE(reread.locked && window.IsLocked());
    EXPECT_EQ(reread.log, "records.jsonl");
    EXPECT_EQ(reread.sha256, pinned);
    EXPECT_EQ(reread.retries, MOST_RETRIES);
    EXPECT_EQ(reread.stallTimeoutSeconds, MOST_STALL_TIMEOUT_SECONDS);
    EXPECT_TRUE(reread.serial == SERIAL_REQUIRED && reread.operatorRequired);
    EXPECT_EQ(reread.serialPattern, "KP-[0-9]{6}");
    EXPECT_EQ(reread.station, "Line 3 bench A");

    // Another image chosen: its hash is pinned once the old and the new have been shown.
    OnNextModal<QInputDialog>([](QInputDialog* ask) {
        ask->setTextValue("line 4");
        ask->accept();
    });
    lock->trigger();
    ASSERT_FALSE(window.IsLocked());
    WriteSRecordFile(dir.filePath("other.s"), TestPattern(24002));
    QString asked;
    editProfile([&](QDialog* dialog) {
        for (QLabel* name : dialog->findChildren<QLabel*>())
            if (name->text() == "&Image:") qobject_cast<QLineEdit*>(name->buddy())->setText(dir.filePath("other.s"));
        OnNextModal<QMessageBox>([&](QMessageBox* box) {
            asked = box->text();
            box->button(QMessageBox::Yes)->click();
        });
    });
    lock->trigger();
    ASSERT_TRUE(LoadBenchProfile(profilePath.toStdString(), reread, error)) << error;
    EXPECT_EQ(reread.image, "other.s");
    EXPECT_NE(reread.sha256, pinned);
    EXPECT_TRUE(asked.contains(QString::fromStdString(pinned)) && asked.contains(QString::fromStdString(reread.sha256)))
        << asked.toStdString();
    QDir(linkDir).removeRecursively();
}

// Four slots sending their records to a real database: the password asked once, the log's
// earlier record caught up, the server stopped mid-shift and the records waiting said until it
// is back; afterwards every record of the log is in the table once.
TEST_F(BenchTest, FourSlotsSendEveryRecordOnceThroughAnOutage) {
    CPostgresServer server;
    ASSERT_TRUE(server.Ready());
    const QString noPasswords = dir.filePath("pgpass");
    QFile(noPasswords).open(QIODevice::WriteOnly);
    const QByteArray passwords = qgetenv("PGPASSFILE");
    qputenv("PGPASSFILE", noPasswords.toLocal8Bit());
    int asked = 0;
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        ++asked;
        EXPECT_EQ(dialog->textEchoMode(), QLineEdit::Password);
        dialog->setTextValue("line-pw");
        dialog->accept();
    });
    answer.start();
    QDir().mkpath(linkDir.path());
    for (int slot = 1; slot <= 4; ++slot) {
        CKeypadPtyServer& keypad = AddKeypad(QuickKeypad());
        keypad.swapAfterUpdateMs = 1000;
        keypad.swapsLeft = 2;
        keypad.onSwap = [](const CKeypadModel&, KeypadConfig& next) { next = QuickKeypad(); };
    }
    {
        QFile log(dir.filePath("records.jsonl"));  // a unit of an earlier shift, never sent
        ASSERT_TRUE(log.open(QIODevice::WriteOnly));
        log.write(JsonLine(BeginObject(BegunUnit("COM9", "Slot 9", 0, 1))));
    }
    profile.database = server.Url();
    OpenProfile();
    OpenProfile();  // the password is asked once while the bench runs
    answer.stop();
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(window.Refusal(), "");
    for (auto& keypad : keypads) keypad->Start();
    window.StartAll();

    auto rows = [&] { return QString::fromStdString(server.Query("SELECT count(*) FROM orbix_records")).toInt(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows() >= 3; }, 20000));
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.RecordsWaiting() > 0; }, 20000));
    QTest::qWait(1100);  // the note is drawn once a second
    bool noted = false;
    for (QLabel* label : window.findChildren<QLabel*>())
        noted |= label->isVisible() && label->text().endsWith("waiting for the database");
    EXPECT_TRUE(noted);
    ASSERT_TRUE(server.Start());
    auto finished = [&] {
        for (size_t i = 0; i < 4; ++i)
            if (window.Slot(i).Ok() < 3) return false;
        return window.RecordsWaiting() == 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(finished, 60000)) << window.RecordsWaiting();
    window.StopAll(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.RecordsWaiting() == 0 && !window.Slot(0).IsRunning(); }, 10000));

    QStringList ids;
    QFile log(dir.filePath("records.jsonl"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    for (const QByteArray& line : log.readAll().split('\n'))
        if (!line.isEmpty()) ids << "'" + QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex() + "'";
    EXPECT_EQ(ids.size(), 1 + 4 * 3 * 2);
    EXPECT_EQ(
        server.Query(("SELECT count(*) FROM orbix_records WHERE record_id IN (" + ids.join(",") + ")").toStdString()),
        std::to_string(ids.size()));
    EXPECT_EQ(rows(), ids.size());
    qputenv("PGPASSFILE", passwords);
    QDir(linkDir).removeRecursively();
}

}  // namespace

#endif

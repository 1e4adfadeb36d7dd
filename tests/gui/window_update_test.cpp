// Whole updates through the window against the simulated keypad on a pseudo-terminal.
#ifdef ORBIX_HAVE_SIM

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "desktop/percent_progress_ctrl.h"
#include "sim/pty_server.h"
#include "window_fixture.h"

namespace {

// Where the serial layer keeps the lock of an open device: "LCK.." and the name below /dev with
// its slashes as underscores, in the system's lock folder, or the temporary one where that is
// not writable.
QString SerialLockFile(const std::string& device) {
    QString name = QString::fromStdString(device);
    name.remove(QRegularExpression("^/dev/")).replace('/', '_');
    for (const QString& folder : {QStringLiteral("/var/lock"), QDir::tempPath()})
        if (QFile::exists(folder + "/LCK.." + name)) return folder + "/LCK.." + name;
    return "/var/lock/LCK.." + name;
}

// What the next real question box showed; Enter answers it.
struct Asked {
    std::string text;
    bool noIsDefault = false;
};
void EnterAtNextQuestion(Asked& asked) {
    OnNextModal<QMessageBox>([&asked](QMessageBox* box) {
        asked = {box->text().toStdString(), box->defaultButton() == box->button(QMessageBox::No)};
        QTest::keyClick(box, Qt::Key_Return);
    });
}

class WindowUpdateTest : public WindowWithKeypad {
protected:
    // An update of a keypad that erases slowly, caught while it erases.
    void StartUpdateUntilErasing(bool firmware) {
        KeypadConfig config;
        config.eraseMsPerSector = 400;
        StartKeypad(config);
        const QString path = dir.filePath(firmware ? "update.s" : "screens.bin");
        if (firmware)
            WriteSRecordFile(path, TestPattern(1000));
        else
            WriteBinaryFile(path, TestPattern(1000));
        window.fileToChoose = path.toStdString();
        QTest::mouseClick(firmware ? window.UpdateFirmwareButton() : window.UpdateScreensButton(), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return window.StatusLine()->text().startsWith("Erasing "); }, 3000));
        window.questions.clear();
    }

    // Frames already on the line may still arrive; after that, none.
    void ExpectNothingMoreSent() {
        QTest::qWait(100);
        const int received = keypad->Model().FramesReceived();
        QTest::qWait(1200);
        EXPECT_EQ(keypad->Model().FramesReceived(), received);
    }

    // The statuses that appear, in the order given, among everything the status line showed.
    bool StatusesInOrder(const std::vector<std::string>& expected) const {
        size_t next = 0;
        for (const auto& entry : window.statuses)
            if (next < expected.size() && entry.text == expected[next]) ++next;
        return next == expected.size();
    }

    // Waits for the countdown's "---" after completion; its time since the completing status.
    qint64 DashesAfter(const std::string& completion) {
        const bool shown = QTest::qWaitFor(
            [this] { return !window.timeTexts.empty() && window.timeTexts.back().text == "---"; }, 1500);
        if (!shown) return -1;
        return window.timeTexts.back().ms - window.StatusTime(completion);
    }
};

TEST_F(WindowUpdateTest, FirmwareUpdateRunsFromTheButtonToCompletion) {
    StartKeypad(KeypadConfig{});
    const std::vector<uint8_t> image = TestPattern(3000);
    const QString path = dir.filePath("update.s");
    WriteSRecordFile(path, image);
    window.fileToChoose = path.toStdString();

    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    ASSERT_EQ(window.questions, std::vector<std::string>{"This will erase the current ORBIX firmware. Proceed?"});
    EXPECT_EQ(window.CloseButton()->text(), "Abort");
    ASSERT_TRUE(WaitUntilIdle(5000)) << window.StatusLine()->text().toStdString();

    EXPECT_EQ(window.StatusLine()->text(), "Firmare update complete");
    EXPECT_TRUE(StatusesInOrder({"File: update.s Opened.", "Checking for device..",
                                 "Got Mem ID. Starting firmware memory erase..", "Erasing firmware sector: 9",
                                 "Setting Programming index", "Sending firmware data", "Sending EXECUTE command",
                                 "Firmare update complete"}));
    EXPECT_EQ(window.ProgressBar()->GetPos(), 100);
    EXPECT_TRUE(window.ProgressBar()->GetShowText());
    EXPECT_EQ(window.ActivityBar()->GetPos(), 0);
    EXPECT_EQ(window.CloseButton()->text(), "Close");
    EXPECT_TRUE(window.UpdateFirmwareButton()->isEnabled());
    const qint64 dashes = DashesAfter("Firmare update complete");
    EXPECT_GE(dashes, 0);
    EXPECT_LE(dashes, 1100);
    EXPECT_EQ(window.TimeRemainingField()->text(), "---");
    EXPECT_EQ(window.GetProfileString("PrevSRecordFilename", ""), path.toStdString());

    keypad->Stop();
    EXPECT_TRUE(keypad->Model().Executed());
    EXPECT_EQ(keypad->Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
}

TEST_F(WindowUpdateTest, ScreensUpdateCountsDownThenShowsDashes) {
    KeypadConfig config;
    // A few slow chunks: the data phase outlasts one countdown tick whatever the machine.
    config.writeMsPerChunk = 100;
    StartKeypad(config);
    const std::vector<uint8_t> image = TestPattern(1500);
    const QString path = dir.filePath("screens.bin");
    WriteBinaryFile(path, image);
    window.fileToChoose = path.toStdString();

    QTest::mouseClick(window.UpdateScreensButton(), Qt::LeftButton);
    ASSERT_EQ(window.questions, std::vector<std::string>{"This will erase the current ORBIX screens. Proceed?"});
    ASSERT_TRUE(WaitUntilIdle(6000)) << window.StatusLine()->text().toStdString();

    EXPECT_EQ(window.StatusLine()->text(), "Screens update complete");
    EXPECT_TRUE(StatusesInOrder({"Got Mem ID. Starting screen memory erase..", "Erasing screens sector: 3",
                                 "Sending screens data", "Screens update complete"}));
    EXPECT_EQ(window.ProgressBar()->GetPos(), 100);
    const qint64 completed = window.StatusTime("Screens update complete");
    ASSERT_FALSE(window.timeTexts.empty());
    EXPECT_NE(window.timeTexts.front().text, "---");
    EXPECT_LT(window.timeTexts.front().ms, completed);
    const qint64 dashes = DashesAfter("Screens update complete");
    EXPECT_GE(dashes, 0);
    EXPECT_LE(dashes, 1100);

    keypad->Stop();
    EXPECT_EQ(keypad->Model().AreaContents(KEYPAD_AREA_SCREENS), image);
}

TEST_F(WindowUpdateTest, AnsweringNoStartsNothing) {
    StartKeypad(KeypadConfig{});
    const QString path = dir.filePath("screens.bin");
    WriteBinaryFile(path, TestPattern(500));
    window.fileToChoose = path.toStdString();
    window.answerYes = false;

    QTest::mouseClick(window.UpdateScreensButton(), Qt::LeftButton);
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_EQ(window.CloseButton()->text(), "Close");
    QTest::qWait(100);
    EXPECT_EQ(keypad->Model().FramesReceived(), 0);
}

TEST_F(WindowUpdateTest, ClosingDuringAnUpdateAsksWithNoTheDefaultAndStopsItOnYes) {
    StartUpdateUntilErasing(true);

    // An accidental Escape: Enter at the question answers No, and the update carries on.
    window.realQuestions = true;
    Asked asked;
    EnterAtNextQuestion(asked);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(asked.text,
              "An update is running. Stop it and close? The keypad will have no valid firmware until it is updated "
              "again.");
    EXPECT_TRUE(asked.noIsDefault);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.Engine().IsBusy());
    // Enter on the focused Abort asks too, worded for stopping; Enter there is No again.
    EnterAtNextQuestion(asked);
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_EQ(asked.text, "Stop the update? The keypad will have no valid firmware until it is updated again.");
    EXPECT_TRUE(asked.noIsDefault && window.Engine().IsBusy());

    // The close box, Yes: the update stops at once and the window closes.
    window.realQuestions = false;
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_EQ(window.StatusLine()->text(), "Operation aborted.");
    ExpectNothingMoreSent();
}

// Abort's question and the close box's, left open while the update ends on its own, go with it;
// the window stays, showing the outcome the keypad has.
TEST_F(WindowUpdateTest, AStopQuestionLeftOpenGoesWhenTheUpdateEndsOnItsOwn) {
    StartUpdateUntilErasing(true);
    auto leaveOpen = [this](Qt::Key key) {
        window.realQuestions = true;
        std::string asked;
        OnNextModal<QMessageBox>([&asked](QMessageBox* box) {
            asked = box->text().toStdString();
            // Still open long after the update's end: answered here, so the test goes on.
            QTimer::singleShot(8000, box, [box] { box->done(QMessageBox::No); });
        });
        QTest::keyClick(&window, key);
        window.realQuestions = false;
        EXPECT_EQ(window.StatusLine()->text(), "Firmare update complete");
        EXPECT_LT(window.Elapsed() - window.StatusTime("Firmare update complete"), 1000);
        EXPECT_TRUE(window.isVisible() && window.CloseButton()->text() == "Close");
        return asked;
    };
    EXPECT_EQ(leaveOpen(Qt::Key_Return),
              "Stop the update? The keypad will have no valid firmware until it is updated again.");
    window.statuses.clear();
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.StatusLine()->text().startsWith("Erasing "); }, 3000));
    EXPECT_EQ(leaveOpen(Qt::Key_Escape),
              "An update is running. Stop it and close? The keypad will have no valid firmware until it is updated "
              "again.");
    EXPECT_EQ(window.StatusTime("Operation aborted."), -1);
    keypad->Stop();
    EXPECT_TRUE(keypad->Model().Executed());
}

TEST_F(WindowUpdateTest, FileExitAsksThenClosesThePortBeforeTheProgramEnds) {
    StartUpdateUntilErasing(false);
    const QString lockFile = SerialLockFile(keypad->DevicePath());
    ASSERT_TRUE(QFile::exists(lockFile)) << lockFile.toStdString();
    int exitCode = -1;
    bool portOpenAtExit = true;
    bool lockLeftAtExit = true;
    window.exitProcess = [&](int code) {
        exitCode = code;
        portOpenAtExit = window.Binding().IsOpen();
        lockLeftAtExit = QFile::exists(lockFile);
    };
    QAction* exitAction = window.MenuBar()->actions().at(0)->menu()->actions().at(0);

    window.answerYes = false;
    exitAction->trigger();
    EXPECT_EQ(exitCode, -1);
    EXPECT_TRUE(window.Engine().IsBusy());

    window.answerYes = true;
    exitAction->trigger();
    const std::string question =
        "An update is running. Stop it and close? The keypad will have no valid screens until it is updated again.";
    EXPECT_EQ(window.questions, std::vector<std::string>(2, question));
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(portOpenAtExit);
    EXPECT_FALSE(lockLeftAtExit);
    EXPECT_EQ(window.StatusLine()->text(), "Operation aborted.");
    ExpectNothingMoreSent();
}

TEST_F(WindowUpdateTest, ADamagedFirmwareFileIsAskedAboutAndEnterKeepsItOut) {
    StartKeypad(KeypadConfig{});
    // Line 3 has a wrong sum (DA is right), line 4 a G among its hex digits.
    const QString path = dir.filePath("damaged.s");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("S0030000FC\nS107000001020304EE\nS10700040506070800\nS1070008G90A0B0CC6\nS9030000FC\n");
    file.close();
    // One damaged record is one.
    QFile one(dir.filePath("one.s"));
    ASSERT_TRUE(one.open(QIODevice::WriteOnly) && one.write("S0030000FC\nS107000001020304FF\nS9030000FC\n") > 0);
    one.close();
    window.fileToChoose = one.fileName().toStdString();
    window.answerYes = false;
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    EXPECT_EQ(window.questions, std::vector<std::string>{"The file has 1 damaged record (the first on line 2). Install "
                                                         "it anyway?"});
    window.questions.clear();
    window.fileToChoose = path.toStdString();
    window.realQuestions = true;
    const std::string damaged = "The file has 2 damaged records (the first on line 3). Install it anyway?";

    Asked asked;
    EnterAtNextQuestion(asked);
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    EXPECT_EQ(asked.text, damaged);
    EXPECT_TRUE(asked.noIsDefault);
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(window.StatusLine()->text(), "Bad checksum in SRecord on line 3");
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_EQ(window.GetProfileString("PrevSRecordFilename", ""), "");
    QTest::qWait(100);
    EXPECT_EQ(keypad->Model().FramesReceived(), 0);

    // A deliberate Yes goes on to the erase question, where Enter still means Yes.
    Asked erase;
    OnNextModal<QMessageBox>([&erase](QMessageBox* box) {
        EnterAtNextQuestion(erase);
        box->button(QMessageBox::Yes)->click();
    });
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    EXPECT_EQ(erase.text, "This will erase the current ORBIX firmware. Proceed?");
    EXPECT_FALSE(erase.noIsDefault);
    EXPECT_TRUE(window.Engine().IsBusy());
}

// A dropped file goes the file dialog's way; refused while busy, and for others or several.
TEST_F(WindowUpdateTest, OneDroppedUpdateFileStartsItsUpdate) {
    StartKeypad(KeypadConfig{});
    const QString path = dir.filePath("dropped.s");
    WriteSRecordFile(path, TestPattern(1000));
    QMimeData data;
    auto dropped = [&](const QStringList& names) {
        QList<QUrl> urls;
        for (const QString& name : names) urls << QUrl::fromLocalFile(dir.filePath(name));
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        if (QApplication::sendEvent(&window, &enter) && enter.isAccepted()) QApplication::sendEvent(&window, &drop);
        return QTest::qWait(50), enter.isAccepted();
    };
    EXPECT_FALSE(dropped({"dropped.s", "screens.bin"}) || dropped({"notes.txt"}));
    EXPECT_TRUE(dropped({"dropped.s"}));
    EXPECT_EQ(window.questions, std::vector<std::string>{"This will erase the current ORBIX firmware. Proceed?"});
    EXPECT_EQ(window.GetProfileString("PrevSRecordFilename", ""), path.toStdString());
    EXPECT_FALSE(dropped({"screens.bin"}));
}

}  // namespace

#endif  // ORBIX_HAVE_SIM

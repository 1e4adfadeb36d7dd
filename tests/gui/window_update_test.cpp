// Whole updates through the window against the simulated keypad on a pseudo-terminal.
#ifdef ORBIX_HAVE_SIM

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "sim/pty_server.h"
#include "ui/percent_progress_ctrl.h"
#include "window_fixture.h"

namespace {

const std::string kFirmwareCloseQuestion =
    "An update is running. Stop it and close? The keypad will have no valid firmware until it is updated again.";

// Where the serial layer keeps the lock of an open device: "LCK.." and the name below /dev with
// its slashes as underscores, in the system's lock folder.
QString SerialLockFile(const std::string& device) {
    QString name = QString::fromStdString(device);
    name.remove(QRegularExpression("^/dev/")).replace('/', '_');
    return "/var/lock/LCK.." + name;
}

class WindowUpdateTest : public WindowWithKeypad {
protected:
    void StartFirmwareUpdateUntilErasing() {
        const QString path = dir.filePath("update.s");
        WriteSRecordFile(path, TestPattern(1000));
        window.fileToChoose = path.toStdString();
        QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return window.StatusLine()->text().startsWith("Erasing firmware"); }, 3000));
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

TEST_F(WindowUpdateTest, ClosingDuringAnUpdateAsksAndStopsItOnlyOnYes) {
    KeypadConfig config;
    config.eraseMsPerSector = 400;
    StartKeypad(config);
    StartFirmwareUpdateUntilErasing();

    // An accidental Escape: No, and the update carries on.
    window.answerYes = false;
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(window.questions, std::vector<std::string>{kFirmwareCloseQuestion});
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.Engine().IsBusy());

    // The close box, Yes: the update stops at once and the window closes.
    window.answerYes = true;
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_EQ(window.StatusLine()->text(), "Operation aborted.");
    ExpectNothingMoreSent();
}

TEST_F(WindowUpdateTest, TheCloseQuestionNamesTheScreensAndEnterAnswersNo) {
    KeypadConfig config;
    config.writeMsPerChunk = 100;
    StartKeypad(config);
    const QString path = dir.filePath("screens.bin");
    WriteBinaryFile(path, TestPattern(1500));
    window.fileToChoose = path.toStdString();
    QTest::mouseClick(window.UpdateScreensButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.StatusLine()->text() == "Sending screens data"; }, 5000));

    window.realQuestions = true;
    QString asked;
    bool noIsDefault = false;
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
        asked = box->text();
        noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(asked.toStdString(),
              "An update is running. Stop it and close? The keypad will have no valid screens until it is updated "
              "again.");
    EXPECT_TRUE(noIsDefault);
    EXPECT_TRUE(window.isVisible());
    ASSERT_TRUE(WaitUntilIdle(6000));
    EXPECT_EQ(window.StatusLine()->text(), "Screens update complete");

    // Idle again: closing is immediate.
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.questions.size(), 2u);  // the erase question, then the close question
}

TEST_F(WindowUpdateTest, FileExitAsksThenClosesThePortBeforeTheProgramEnds) {
    KeypadConfig config;
    config.eraseMsPerSector = 400;
    StartKeypad(config);
    const QString lockFile = SerialLockFile(keypad->DevicePath());
    ASSERT_TRUE(QFile::exists(lockFile)) << lockFile.toStdString();
    StartFirmwareUpdateUntilErasing();

    int exitCode = -1;
    bool portOpenAtExit = true;
    bool lockLeftAtExit = true;
    window.exitProcess = [&](int code) {
        exitCode = code;
        portOpenAtExit = window.Binding().Comm().PortOpen();
        lockLeftAtExit = QFile::exists(lockFile);
    };
    QAction* exitAction = window.MenuBar()->actions().at(0)->menu()->actions().at(0);
    window.answerYes = false;
    exitAction->trigger();
    EXPECT_EQ(exitCode, -1);
    EXPECT_TRUE(window.Engine().IsBusy());

    window.answerYes = true;
    exitAction->trigger();
    EXPECT_EQ(window.questions, std::vector<std::string>(2, kFirmwareCloseQuestion));
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(portOpenAtExit);
    EXPECT_FALSE(lockLeftAtExit);
    EXPECT_EQ(window.StatusLine()->text(), "Operation aborted.");
    ExpectNothingMoreSent();
}

// Two damaged records: a wrong sum on line 3, a non-hex character on line 5.
TEST_F(WindowUpdateTest, ADamagedFirmwareFileIsAskedAboutAndEnterKeepsItOut) {
    StartKeypad(KeypadConfig{});
    const QString path = dir.filePath("damaged.s");
    WriteSRecordFile(path, TestPattern(200));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    lines[2].back() = lines[2].back() == '0' ? '1' : '0';
    lines[4][10] = 'G';
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join('\n'));
    file.close();
    window.fileToChoose = path.toStdString();
    window.realQuestions = true;

    struct Asked {
        std::string text;
        bool noIsDefault;
    };
    std::vector<Asked> asked;
    auto answer = [&asked](QMessageBox::StandardButton button) {
        return [&asked, button](QMessageBox* box) {
            asked.push_back({box->text().toStdString(), box->defaultButton() == box->button(QMessageBox::No)});
            if (button == QMessageBox::NoButton) QTest::keyClick(box, Qt::Key_Return);
            else box->button(button)->click();
        };
    };
    const std::string damaged = "The file has 2 damaged records (the first on line 3). Install it anyway?";

    // Enter: No. The refusal stays on the status line, the file is not remembered, nothing is sent.
    OnNextModal<QMessageBox>(answer(QMessageBox::NoButton));
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, damaged);
    EXPECT_TRUE(asked[0].noIsDefault);
    EXPECT_EQ(window.StatusLine()->text(), "Bad checksum in SRecord on line 3");
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_EQ(window.GetProfileString("PrevSRecordFilename", ""), "");

    // Yes goes on to the erase question, which keeps Yes as its default (answered No here).
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
        OnNextModal<QMessageBox>(answer(QMessageBox::No));
        answer(QMessageBox::Yes)(box);
    });
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[1].text, damaged);
    EXPECT_EQ(asked[2].text, "This will erase the current ORBIX firmware. Proceed?");
    EXPECT_FALSE(asked[2].noIsDefault);
    QTest::qWait(100);
    EXPECT_EQ(keypad->Model().FramesReceived(), 0);
}

}  // namespace

#endif  // ORBIX_HAVE_SIM

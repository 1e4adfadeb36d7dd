// Whole updates through the window against the simulated keypad on a pseudo-terminal.
#ifdef ORBIX_HAVE_SIM

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "sim/pty_server.h"
#include "ui/percent_progress_ctrl.h"
#include "window_fixture.h"

namespace {

class WindowUpdateTest : public WindowWithKeypad {
protected:
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

TEST_F(WindowUpdateTest, EscapeDuringAnUpdateClosesTheWindowWithoutAbort) {
    KeypadConfig config;
    config.eraseMsPerSector = 400;
    StartKeypad(config);
    const QString path = dir.filePath("update.s");
    WriteSRecordFile(path, TestPattern(1000));
    window.fileToChoose = path.toStdString();

    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.StatusLine()->text().startsWith("Erasing firmware"); }, 3000));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_TRUE(window.Engine().IsBusy());
    EXPECT_EQ(window.StatusTime("Operation aborted."), -1);
}

}  // namespace

#endif  // ORBIX_HAVE_SIM

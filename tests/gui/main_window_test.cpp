#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "desktop/percent_progress_ctrl.h"
#include "window_fixture.h"

namespace {

constexpr COLORREF kWindowBar = 0x00FF0076;
constexpr COLORREF kGrey = 0x00C8C8C8;

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ClearSettings();
        window.SetPortOverride(PortSpec{0, NO_SUCH_PORT});
        window.OnInitDialog();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    CRecordingDialog window;
};

TEST_F(MainWindowTest, StartsWithThePortTextEmptyBarsAndNoTimeRemaining) {
    const std::string notAvailable = std::string("COM Port: ") + NO_SUCH_PORT + " not available";
    // The box comes first, with why; its first line then stays on the status line.
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, notAvailable + "\n" + NO_SUCH_PORT + ": no such device");
    EXPECT_EQ(window.boxes[0].kind, MESSAGE_WARNING);
    EXPECT_EQ(window.StatusLine()->text().toStdString(), notAvailable);
    EXPECT_TRUE(window.StatusLine()->isReadOnly());
    EXPECT_EQ(window.TimeRemainingField()->text(), "---");

    CPercentProgressCtrl* main = window.ProgressBar();
    EXPECT_FALSE(main->GetShowText());
    EXPECT_EQ(main->GetBarColor(), kWindowBar);
    EXPECT_EQ(main->GetBkColor(), kGrey);
    EXPECT_EQ(main->GetTextColor(), 0x00FFFFFFu);
    EXPECT_EQ(main->GetRange(true), 0);
    EXPECT_EQ(main->GetRange(false), 100);
    EXPECT_EQ(main->GetPos(), 0);

    CPercentProgressCtrl* activity = window.ActivityBar();
    EXPECT_FALSE(activity->GetShowText());
    EXPECT_EQ(activity->GetBarColor(), kWindowBar);
    EXPECT_EQ(activity->GetBkColor(), kGrey);
    EXPECT_EQ(activity->GetTextColor(), CLR_DEFAULT);
    EXPECT_EQ(activity->GetRange(false), 50);

    // An empty bar shows only its grey background, no text over it.
    const QImage picture = main->grab().toImage();
    EXPECT_EQ(picture.pixel(picture.width() / 2, picture.height() / 2), qRgb(200, 200, 200));

    // The buttons say the same at once, and ask and send nothing.
    window.fileToChoose = "unused.s";
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    QTest::keyClick(window.UpdateFirmwareButton(), Qt::Key_Space);
    EXPECT_EQ(window.boxes.size(), 3u);
    EXPECT_EQ(window.boxes.back().text, window.boxes.front().text);
    EXPECT_EQ(window.StatusLine()->text().toStdString(), notAvailable);
    EXPECT_TRUE(window.questions.empty());
}

TEST_F(MainWindowTest, StatusLineIsAReadOnlyFieldThatShowsTheBeginningOfALongText) {
    QLineEdit* status = window.StatusLine();
    EXPECT_EQ(status->cursor().shape(), Qt::ArrowCursor);  // no text pointer over it
    status->setFocus();

    // The start of a long text looks exactly as the same start on its own would.
    const std::string start = "File: ";
    window.ShowStatus(start);
    const QImage alone = status->grab().toImage();
    // Behind the text: the dialog's own colour, not an input field's white.
    EXPECT_EQ(QColor(alone.pixel(alone.width() - 6, alone.height() / 2)).name().toStdString(),
              window.palette().color(QPalette::Window).name().toStdString());
    window.ShowStatus(start + std::string(120, 'W') + ".s Opened.");
    const QImage within = status->grab().toImage();
    const int startEnd = status->contentsMargins().left() + 4 + status->fontMetrics().horizontalAdvance("File:");
    EXPECT_TRUE(alone.copy(0, 0, startEnd, alone.height()) == within.copy(0, 0, startEnd, within.height()))
        << "the long text shows its end";
    EXPECT_EQ(status->text().toStdString(), start + std::string(120, 'W') + ".s Opened.");
}

// The engine's events as the window shows them: sectors, then percent sent on the main bar, the
// activity bar, the estimate in words, and the buttons while busy.
TEST_F(MainWindowTest, EngineEventsDriveTheBarsFieldsAndButtons) {
    CPercentProgressCtrl* main = window.ProgressBar();
    window.BusyChanged(true);
    EXPECT_FALSE(window.UpdateFirmwareButton()->isEnabled());
    EXPECT_FALSE(window.UpdateScreensButton()->isEnabled());
    EXPECT_FALSE(window.TestConnectionButton()->isEnabled());
    EXPECT_EQ(window.CloseButton()->text(), "Abort");

    window.PhaseStarted(PHASE_ERASE, 6, 9);
    EXPECT_TRUE(main->GetShowText());
    EXPECT_EQ(main->GetRange(true), 0);
    EXPECT_EQ(main->GetRange(false), 9);
    EXPECT_EQ(main->GetPos(), 0);
    window.Progress(7, 9);
    EXPECT_EQ(main->GetPos(), 7);
    EXPECT_EQ(main->DisplayText(), "77%");

    window.PhaseStarted(PHASE_DATA, 0, 40961);
    EXPECT_EQ(main->GetRange(false), 100);
    EXPECT_EQ(main->GetPos(), 0);
    EXPECT_TRUE(main->GetShowText());
    window.Progress(20336, 40961);  // 49.6% sent: the bar counts whole percent
    EXPECT_EQ(main->GetPos(), 49);
    window.ActivityMoved(12);
    EXPECT_EQ(window.ActivityBar()->GetPos(), 12);
    window.TimeRemaining(75);
    EXPECT_EQ(window.TimeRemainingField()->text(), "2 minutes remaining");
    window.TimeRemaining(60);
    EXPECT_EQ(window.TimeRemainingField()->text(), "60 second(s) remaining");

    window.BusyChanged(false);
    window.OperationEnded(OUTCOME_SUCCESS);
    window.TimeRemaining(NO_TIME_REMAINING);
    EXPECT_TRUE(window.UpdateFirmwareButton()->isEnabled());
    EXPECT_TRUE(window.TestConnectionButton()->isEnabled());
    EXPECT_EQ(window.CloseButton()->text(), "Close");
    EXPECT_EQ(window.TimeRemainingField()->text(), "---");
    EXPECT_EQ(main->GetPos(), 49);  // the bar keeps what was sent
}

TEST(StartUpTest, NotAvailableBoxIsCentredOverTheShownWindow) {
    ClearSettings();
    CLoaderDialog window;  // the real box
    window.SetPortOverride(PortSpec{0, NO_SUCH_PORT});
    QString text;
    bool windowShown = false;
    QRect box;
    QRect main;
    OnNextModal<QMessageBox>([&](QMessageBox* shown) {
        text = shown->text();
        windowShown = window.isVisible();
        box = shown->frameGeometry();
        main = window.frameGeometry();
        shown->accept();
    });
    window.OnInitDialog();
    EXPECT_EQ(text.toStdString(),
              std::string("COM Port: ") + NO_SUCH_PORT + " not available\n" + NO_SUCH_PORT + ": no such device");
    EXPECT_TRUE(windowShown);
    EXPECT_LE((box.center() - main.center()).manhattanLength(), 2)
        << "box " << box.x() << "," << box.y() << " window " << main.x() << "," << main.y();
}

TEST_F(MainWindowTest, HasTheCaptionButtonsAndMenuOfTheLayout) {
    EXPECT_EQ(window.windowTitle(), "Calvane ORBIX Loader");
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(window.UpdateScreensButton()->text(), "Update Screens");
    EXPECT_EQ(window.UpdateFirmwareButton()->text(), "Update Firmware");
    EXPECT_EQ(window.TestConnectionButton()->text(), "Test Connection");
    EXPECT_EQ(window.CloseButton()->text(), "Close");
    EXPECT_TRUE(window.CloseButton()->isDefault());
    EXPECT_TRUE(window.CloseButton()->hasFocus());
    // Tab goes round the buttons only: the status line is read, not typed into or selected.
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), window.StatusLine());
    }
    QTest::mouseDClick(window.StatusLine(), Qt::LeftButton);
    EXPECT_TRUE(window.StatusLine()->selectedText().isEmpty());
    EXPECT_EQ(window.StatusLine()->accessibleName(), "Status");

    // Left to right along the top: Screens, Firmware, Test, Close; below them the main bar, the
    // activity bar, then the status line beside the time field. The bars span the same width.
    auto rect = [](QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); };
    const QRect screens = rect(window.UpdateScreensButton());
    const QRect firmware = rect(window.UpdateFirmwareButton());
    const QRect test = rect(window.TestConnectionButton());
    const QRect close = rect(window.CloseButton());
    const QRect main = rect(window.ProgressBar()->parentWidget());
    const QRect activity = rect(window.ActivityBar()->parentWidget());
    const QRect status = rect(window.StatusLine());
    const QRect time = rect(window.TimeRemainingField());
    EXPECT_LT(screens.right(), firmware.left());
    EXPECT_LT(firmware.right(), test.left());
    EXPECT_LT(test.right(), close.left());
    EXPECT_EQ(screens.top(), close.top());
    EXPECT_LT(close.bottom(), main.top());
    EXPECT_LT(main.bottom(), activity.top());
    EXPECT_LT(activity.bottom(), status.top());
    EXPECT_EQ(status.top(), time.top());
    EXPECT_LT(status.right(), time.left());
    EXPECT_EQ(main.left(), activity.left());
    EXPECT_EQ(main.width(), activity.width());
    EXPECT_EQ(time.right(), main.right());
    EXPECT_GT(main.height(), activity.height());
    // 320 by 78 units: about four times as wide as the client area is high.
    const QWidget* client = window.CloseButton()->parentWidget();
    EXPECT_NEAR(double(client->width()) / client->height(), 4.1, 0.6);

    QStringList menus;
    for (QAction* action : window.MenuBar()->actions()) {
        QStringList items;
        for (QAction* item : action->menu()->actions()) items << item->text();
        menus << action->text() + ": " + items.join(", ");
    }
    EXPECT_EQ(menus.join(" | ").toStdString(), "File: Exit | Edit: Preferences | Help: Help, Calvane Homepage, About");
}

#ifdef ORBIX_HAVE_SIM
// A keypad that never answers, so a connection test stays busy until stopped.
class SilentKeypadWindowTest : public WindowWithKeypad {
protected:
    void SetUp() override {
        WindowWithKeypad::SetUp();
        StartKeypad(KeypadConfig{.silent = true});
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    bool OperationButtonsEnabled(bool enabled) const {
        return window.UpdateScreensButton()->isEnabled() == enabled &&
               window.UpdateFirmwareButton()->isEnabled() == enabled &&
               window.TestConnectionButton()->isEnabled() == enabled;
    }
};

TEST_F(SilentKeypadWindowTest, TestConnectionIsBusyUntilAbortAndAbortIsNotClose) {
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    EXPECT_TRUE(window.Engine().IsBusy());
    EXPECT_TRUE(OperationButtonsEnabled(false));
    EXPECT_EQ(window.CloseButton()->text(), "Abort");
    EXPECT_TRUE(window.CloseButton()->hasFocus());
    EXPECT_EQ(window.StatusLine()->text(), "Checking for device..");

    QTest::mouseClick(window.CloseButton(), Qt::LeftButton);
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.StatusLine()->text(), "Operation aborted.");
    EXPECT_EQ(window.CloseButton()->text(), "Close");
    EXPECT_TRUE(window.CloseButton()->hasFocus());
    EXPECT_TRUE(OperationButtonsEnabled(true));
    // The connection test leaves the activity bar alone.
    EXPECT_EQ(window.ActivityBar()->GetPos(), 0);
}

TEST_F(SilentKeypadWindowTest, EnterAbortsATestAtOnceAndClosesWhileIdleButNotStraightAfter) {
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_EQ(window.StatusLine()->text(), "Operation aborted.");
    QTest::keyClick(&window, Qt::Key_Return);  // a double press
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.questions.empty());

    QTest::qWait(600);
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(SilentKeypadWindowTest, EscapeClosesEvenWhileBusyWithoutAborting) {
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_EQ(window.StatusTime("Operation aborted."), -1);
}

using MainWindowDeathTest = SilentKeypadWindowTest;

TEST_F(MainWindowDeathTest, FileExitEndsTheProcessAtOnceEvenWhileBusy) {
#ifdef ORBIX_SANITIZE_BUILD
    GTEST_SKIP() << "exit() with the window alive is a leak to LeakSanitizer, by design of Exit";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QAction* exitAction = window.MenuBar()->actions().at(0)->menu()->actions().at(0);
    ASSERT_EQ(exitAction->text(), "Exit");
    EXPECT_EXIT(
        {
            QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
            if (!window.Engine().IsBusy()) std::_Exit(4);
            exitAction->trigger();
            std::_Exit(3);  // not reached when Exit works
        },
        testing::ExitedWithCode(0), "");
}

#endif  // ORBIX_HAVE_SIM

TEST_F(MainWindowTest, CancelledFileChoiceStartsNothing) {
    window.fileToChoose.clear();
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    QTest::mouseClick(window.UpdateScreensButton(), Qt::LeftButton);
    EXPECT_FALSE(window.Engine().IsBusy());
    EXPECT_TRUE(window.questions.empty());
    EXPECT_EQ(window.CloseButton()->text(), "Close");
}

}  // namespace

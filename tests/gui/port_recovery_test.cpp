// A serial adapter pulled out and plugged back in: the window says so at once and takes the port
// up again by itself when it is back.
#ifdef ORBIX_HAVE_SIM

#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <deque>

#include "desktop/percent_progress_ctrl.h"
#include "serial/serial_port.h"
#include "ui/preferences_dialog.h"
#include "window_fixture.h"

namespace {

// Keys given to a window as the system gives them, one every 100 ms, and the longest any of them
// waited to be handled. A nested event loop that takes no user input holds them.
class CKeyLatency : public QObject {
public:
    explicit CKeyLatency(QWidget* window) {
        window->winId();
        window->windowHandle()->installEventFilter(this);
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, [this, handle = window->windowHandle()] {
            m_given.push_back(m_clock.elapsed());
            for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
                QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
                    handle, type, Qt::Key_F13, Qt::NoModifier);
        });
        m_timer.start(100);
    }
    qint64 longestWait = 0;

private:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && !m_given.empty()) {
            longestWait = std::max(longestWait, m_clock.elapsed() - m_given.front());
            m_given.pop_front();
        }
        return false;
    }

    QElapsedTimer m_clock;
    QTimer m_timer;
    std::deque<qint64> m_given;  // when each key still waiting was given
};

// The window's port is a name that stays (as /dev/serial/by-id/... does) for a device that comes
// and goes: a link to the simulated keypad's pseudo-terminal.
class PortRecoveryTest : public WindowWithKeypad {
protected:
    void PlugIn(const KeypadConfig& config) {
        keypad = std::make_unique<CKeypadPtyServer>(config);
        std::string error;
        ASSERT_TRUE(keypad->Open(error)) << error;
        keypad->Start();
        ASSERT_TRUE(QFile::link(QString::fromStdString(keypad->DevicePath()), adapter));
    }
    void PullOut() {
        keypad.reset();
        QFile::remove(adapter);
    }
    // Milliseconds until the status line reads `text`; -1 if not within `timeoutMs`.
    qint64 MsUntilStatus(const std::string& text, int timeoutMs) {
        const qint64 from = window.Elapsed();
        if (!QTest::qWaitFor([&] { return window.StatusLine()->text().toStdString() == text; }, timeoutMs)) return -1;
        return window.Elapsed() - from;
    }

    const QString adapter = dir.filePath("adapter");
    const std::string gone = "COM Port: " + adapter.toStdString() + " not available";
    const std::string back = "COM Port: " + adapter.toStdString() + " selected ";
};

TEST_F(PortRecoveryTest, APortLostIsReportedAtOnceAndReopenedWhenBack) {
    PlugIn(KeypadConfig{});
    window.SetPortOverride(PortSpec{0, adapter.toStdString()});
    window.OnInitDialog();
    ASSERT_TRUE(window.boxes.empty());
    ASSERT_EQ(window.StatusLine()->text().toStdString(), back);

    // Lost while idle: the box and the status line, as at start-up.
    PullOut();
    const qint64 reported = MsUntilStatus(gone, 2000);
    ASSERT_GE(reported, 0);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, gone);
    EXPECT_EQ(window.boxes[0].kind, MESSAGE_WARNING);
    // Attempts while it is still gone say nothing more.
    QTest::qWait(2 * CPortRecovery::RETRY_MS + 300);
    EXPECT_EQ(window.boxes.size(), 1u);

    // Back, but another program holds it for a while: the attempts that fail stay quiet too.
    KeypadConfig silent;
    silent.silent = true;
    PlugIn(silent);
    CSerialPort other;
    std::string reason;
    ASSERT_TRUE(other.Open(adapter.toStdString(), reason)) << reason;
    QTest::qWait(CPortRecovery::RETRY_MS + 300);
    EXPECT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.StatusLine()->text().toStdString(), gone);
    other.Close();
    const qint64 reopened = MsUntilStatus(back, CPortRecovery::RETRY_MS + 1000);
    ASSERT_GE(reopened, 0);
    std::printf("lost reported after %lld ms; reopened %lld ms after the device was free\n",
                static_cast<long long>(reported), static_cast<long long>(reopened));

    // Lost during an operation: a box says so; and it comes back all the same.
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    PullOut();
    ASSERT_GE(MsUntilStatus(gone, 2000), 0);
    EXPECT_EQ(window.boxes.back().text, "COM Port: " + adapter.toStdString() + " was lost during the connection test.");
    PlugIn(KeypadConfig{.eraseMsPerSector = 400});
    ASSERT_GE(MsUntilStatus(back, CPortRecovery::RETRY_MS + 1000), 0);
    // During an update, the box says what the keypad is left with, and the bars go back to rest.
    window.fileToChoose = dir.filePath("update.s").toStdString();
    WriteSRecordFile(QString::fromStdString(window.fileToChoose), TestPattern(1000));
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.StatusLine()->text().startsWith("Erasing "); }, 3000));
    PullOut();
    ASSERT_GE(MsUntilStatus(gone, 2000), 0);
    ASSERT_EQ(window.boxes.size(), 3u);
    EXPECT_EQ(window.boxes[2].text, "COM Port: " + adapter.toStdString() +
                                        " was lost during the update. The keypad holds no valid firmware and stays "
                                        "in its update mode: run the update again.");
    EXPECT_TRUE(window.ProgressBar()->GetPos() == 0 && !window.ProgressBar()->GetShowText());
    PlugIn(KeypadConfig{});
    ASSERT_GE(MsUntilStatus(back, CPortRecovery::RETRY_MS + 1000), 0);
    EXPECT_FALSE(window.PortRecovery().IsRetrying());
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(3000));
    EXPECT_EQ(window.StatusLine()->text(), "ORBIX detected!");
}

// A port that would not open at start is tried again: in the background, though never while
// Preferences is open (its Find probes the ports), and at once when a button asks, with the
// reason of that try.
TEST_F(PortRecoveryTest, APortThatWouldNotOpenIsTriedAgainWithTheReasonOfThatTry) {
    window.SetPortOverride(PortSpec{0, adapter.toStdString()});
    window.OnInitDialog();  // not plugged in yet
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, gone + "\n" + adapter.toStdString() + ": no such device");
    PlugIn(KeypadConfig{});
    ASSERT_GE(MsUntilStatus(back, CPortRecovery::RETRY_MS + 1000), 0);

    PullOut();
    ASSERT_GE(MsUntilStatus(gone, 2000), 0);
    PlugIn(KeypadConfig{});
    CSerialPort other;
    std::string reason;
    ASSERT_TRUE(other.Open(adapter.toStdString(), reason)) << reason;
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_EQ(window.boxes.size(), 3u);
    const std::string inUse = gone + "\n" + adapter.toStdString() + ": in use by another program";
    EXPECT_EQ(window.boxes[2].text.substr(0, inUse.size()), inUse);

    bool openedUnderPreferences = true;
    OnNextModal<CPreferencesDialog>([&](CPreferencesDialog* dialog) {
        other.Close();
        QTest::qWait(CPortRecovery::RETRY_MS + 500);
        openedUnderPreferences = window.Binding().IsOpen();
        dialog->accept();
    });
    window.OnPreferences();
    EXPECT_FALSE(openedUnderPreferences);
    EXPECT_GE(MsUntilStatus(back, CPortRecovery::RETRY_MS + 1000), 0);
    EXPECT_EQ(window.boxes.size(), 3u);
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(3000));
    EXPECT_EQ(window.StatusLine()->text(), "ORBIX detected!");
}

// A network port (a device server restarted) is retried too; while it is gone, why is said.
TEST_F(PortRecoveryTest, ANetworkPortIsRetriedAndSaysWhyItIsNotAvailable) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    const std::string name = "tcp://127.0.0.1:" + std::to_string(port);
    window.SetPortOverride(PortSpec{0, name});
    window.OnInitDialog();
    // The command line's file waits for the port.
    WriteSRecordFile(dir.filePath("update.s"), TestPattern(100));
    window.answerYes = false;
    EXPECT_EQ(window.OpenFile(dir.filePath("update.s")), 1);
    ASSERT_TRUE(QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window.questions.empty(); }, 2000));
    EXPECT_EQ(window.questions[0], "This will erase the current ORBIX firmware. Proceed?");
    server.close();
    delete server.nextPendingConnection();
    QTest::qWait(CPortRecovery::RETRY_MS + 500);
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.boxes.size() == 2; }, 2000));
    EXPECT_EQ(window.boxes[1].text, "COM Port: " + name + " not available\n127.0.0.1:" + std::to_string(port) +
                                        ": connection refused (no server listens on that port)");
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    EXPECT_GE(MsUntilStatus("COM Port: " + name + " selected ", CPortRecovery::RETRY_MS + 1000), 0);
}

// A device server that takes the connection and never negotiates: each attempt waits for the
// open's whole time while the window answers keys, and a click joins the attempt under way.
TEST_F(PortRecoveryTest, ANetworkPortThatNeverNegotiatesLeavesTheWindowAnswering) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string address = "127.0.0.1:" + std::to_string(server.serverPort());
    const std::string name = "rfc2217://" + address;
    CKeyLatency keys(&window);
    window.SetPortOverride(PortSpec{0, name});
    window.OnInitDialog();
    // The attempt at start holds the buttons; one in the background leaves them, and a click joins it.
    for (const bool background : {false, true}) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, CPortRecovery::RETRY_MS + 1000));
        QTest::qWait(500);
        if (background) QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
        EXPECT_EQ(window.StatusLine()->text().toStdString(), "Connecting to " + name + "..");
        EXPECT_FALSE(window.TestConnectionButton()->isEnabled());
        QTest::qWait(500);
        delete server.nextPendingConnection();
        EXPECT_FALSE(server.hasPendingConnections());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.boxes.size() == 1u + background; }, 2000));
        EXPECT_EQ(window.boxes.back().text,
                  "COM Port: " + name + " not available\n" + address +
                      ": the server closed the connection (is another client using the port?)");
        EXPECT_TRUE(window.TestConnectionButton()->isEnabled());
        EXPECT_LT(keys.longestWait, 200);
    }
    std::printf("the longest a key waited while the port was tried: %lld ms\n",
                static_cast<long long>(keys.longestWait));
}

}  // namespace

#endif  // ORBIX_HAVE_SIM

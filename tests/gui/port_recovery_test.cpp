// A serial adapter pulled out and plugged back in: the window says so at once and takes the port
// up again by itself when it is back.
#ifdef ORBIX_HAVE_SIM

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <map>
#include <qpa/qwindowsysteminterface.h>

#include "serial/serial_port.h"
#include "ui/percent_progress_ctrl.h"
#include "ui/preferences_dialog.h"
#include "window_fixture.h"

namespace {

// Keys and clicks given to a widget's window as the system gives them, one every 100 ms; how long
// they waited to be handled.
class CInputLatency : public QObject {
public:
    explicit CInputLatency(QWidget* target) : m_target(target) {
        m_clock.start();
        qApp->installEventFilter(this);
        connect(&m_timer, &QTimer::timeout, this, &CInputLatency::Give);
        m_timer.start(100);
    }
    ~CInputLatency() override { qApp->removeEventFilter(this); }
    // Of those handled and those still waiting.
    qint64 LongestWait() const {
        qint64 longest = m_longest;
        for (const auto& [stamp, given] : m_waiting) longest = std::max(longest, m_clock.elapsed() - given);
        return longest;
    }
    int Handled() const { return m_handled; }

private:
    void Give() {
        QWindow* window = m_target->window()->windowHandle();
        if (!window) return;
        // The time stamp tells each one apart; clicks alternate with keys.
        const ulong stamp = static_cast<ulong>(m_clock.elapsed()) + 1;
        m_waiting[stamp] = m_clock.elapsed();
        using Queued = QWindowSystemInterface::AsynchronousDelivery;
        if (++m_given % 2) {
            QWindowSystemInterface::handleKeyEvent<Queued>(window, stamp, QEvent::KeyPress, Qt::Key_F13, Qt::NoModifier);
            QWindowSystemInterface::handleKeyEvent<Queued>(window, stamp, QEvent::KeyRelease, Qt::Key_F13, Qt::NoModifier);
        } else {
            const QPointF at = m_target->mapTo(m_target->window(), QPointF(m_target->rect().center()));
            const QPointF global = m_target->mapToGlobal(QPointF(m_target->rect().center()));
            QWindowSystemInterface::handleMouseEvent<Queued>(window, stamp, at, global, Qt::LeftButton, Qt::LeftButton,
                                                             QEvent::MouseButtonPress);
            QWindowSystemInterface::handleMouseEvent<Queued>(window, stamp, at, global, Qt::NoButton, Qt::LeftButton,
                                                             QEvent::MouseButtonRelease);
        }
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress) {
            const auto found = m_waiting.find(static_cast<QInputEvent*>(event)->timestamp());
            if (found != m_waiting.end()) {
                m_longest = std::max(m_longest, m_clock.elapsed() - found->second);
                m_waiting.erase(found);
                ++m_handled;
            }
        }
        return false;
    }

    QWidget* m_target;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::map<ulong, qint64> m_waiting;  // time stamp: when given
    qint64 m_longest = 0;
    int m_given = 0;
    int m_handled = 0;
};

// The window's port is a name that stays (as /dev/serial/by-id/... does) for a device that comes
// and goes: a link to the simulated keypad's pseudo-terminal.
class PortRecoveryTest : public WindowWithKeypad {
protected:
    // `holder`, when given, has the device open before the window could see it.
    void PlugIn(const KeypadConfig& config, CSerialPort* holder = nullptr) {
        keypad = std::make_unique<CKeypadPtyServer>(config);
        std::string error;
        ASSERT_TRUE(keypad->Open(error)) << error;
        keypad->Start();
        if (holder) {
            ASSERT_TRUE(holder->Open(keypad->DevicePath(), error)) << error;
        }
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

// A port that would not open at start is tried again: at once when a button asks, with the reason
// of that try; after Preferences' Apply, unchanged; in the background, but never while Preferences
// is open (its Find probes the ports).
TEST_F(PortRecoveryTest, APortThatWouldNotOpenIsTriedAgainWithTheReasonOfThatTry) {
    window.SetPortOverride(PortSpec{0, adapter.toStdString()});
    window.OnInitDialog();  // not plugged in yet
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, gone + "\n" + adapter.toStdString() + ": no such device");

    CSerialPort other;
    PlugIn(KeypadConfig{}, &other);
    const std::string inUse = gone + "\n" + adapter.toStdString() + ": in use by another program";
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].text.substr(0, inUse.size()), inUse);
    OnNextModal<CPreferencesDialog>([](CPreferencesDialog* dialog) { dialog->accept(); });
    window.OnPreferences();
    ASSERT_EQ(window.boxes.size(), 3u);
    EXPECT_EQ(window.boxes[2].text.substr(0, inUse.size()), inUse);

    other.Close();
    bool openedUnderPreferences = true;
    OnNextModal<CPreferencesDialog>([&](CPreferencesDialog* dialog) {
        QTest::qWait(CPortRecovery::RETRY_MS + 500);
        openedUnderPreferences = window.Binding().Comm().IsOpen();
        dialog->reject();
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
    ASSERT_TRUE(QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, 2000));
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
// open's whole time while the window answers keys and clicks, and a click joins the attempt under
// way instead of starting another.
TEST_F(PortRecoveryTest, ANetworkPortThatNeverNegotiatesLeavesTheWindowAnswering) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string address = "127.0.0.1:" + std::to_string(server.serverPort());
    const std::string name = "rfc2217://" + address;
    const std::string closed = "COM Port: " + name + " not available\n" + address +
                               ": the server closed the connection (is another client using the port?)";
    CInputLatency input(window.TimeRemainingField());
    window.SetPortOverride(PortSpec{0, name});
    window.OnInitDialog();
    ASSERT_TRUE(QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, 2000));
    EXPECT_EQ(window.StatusLine()->text().toStdString(), "Connecting to " + name + "..");
    EXPECT_FALSE(window.TestConnectionButton()->isEnabled());
    QTest::qWait(1000);
    std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    accepted->close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window.boxes.empty(); }, 2000));
    EXPECT_EQ(window.boxes[0].text, closed);
    EXPECT_TRUE(window.TestConnectionButton()->isEnabled());
    EXPECT_LT(input.LongestWait(), 200) << "while the port was opened at start";

    // Tried again in the background.
    ASSERT_TRUE(QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, CPortRecovery::RETRY_MS + 1000));
    QTest::qWait(500);
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    EXPECT_EQ(window.StatusLine()->text().toStdString(), "Connecting to " + name + "..");
    EXPECT_FALSE(window.TestConnectionButton()->isEnabled());
    QTest::qWait(500);
    accepted.reset(server.nextPendingConnection());
    EXPECT_FALSE(server.hasPendingConnections());
    accepted->close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.boxes.size() == 2; }, 2000));
    EXPECT_EQ(window.boxes[1].text, closed);
    EXPECT_TRUE(window.TestConnectionButton()->isEnabled());
    EXPECT_FALSE(window.Engine().IsBusy());

    std::printf("%d keys and clicks while the port was tried; the longest waited %lld ms\n", input.Handled(),
                static_cast<long long>(input.LongestWait()));
    EXPECT_GE(input.Handled(), 20);
    EXPECT_LT(input.LongestWait(), 200);
}

}  // namespace

#endif  // ORBIX_HAVE_SIM

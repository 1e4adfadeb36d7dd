// Finding the keypad from the window: Preferences' Find and --port auto, against simulated
// keypads, silent ones and a device that is not a keypad, listed through the port list's seam.
#ifdef ORBIX_HAVE_SIM
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <cstdio>
#include <future>
#include <thread>

#include "serial/port_list.h"
#include "serial/serial_port.h"
#include "session/port_binding.h"
#include "ui/preferences_dialog.h"
#include "window_fixture.h"

namespace {

// A modem with its echo on: every byte sent comes back, none of it a keypad's reply.
class CEchoDevice {
public:
    CEchoDevice() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        m_path = ptsname(m_master);
        m_thread = std::thread([this] {
            char bytes[256];
            while (!m_stop) {
                pollfd ready{m_master, POLLIN, 0};
                if (poll(&ready, 1, 50) <= 0) continue;
                const ssize_t n = read(m_master, bytes, sizeof bytes);
                if (n > 0 && write(m_master, bytes, static_cast<size_t>(n)) < 0) break;
                if (n <= 0) usleep(20000);  // nobody has the line open
            }
        });
    }
    ~CEchoDevice() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_master >= 0) close(m_master);
    }
    const std::string& Path() const { return m_path; }

private:
    int m_master = -1;
    std::string m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void Press(QDialog* dialog, const char* text) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text) button->click();
}

class FindKeypadTest : public testing::Test {
protected:
    void SetUp() override {
        ClearSettings();
        ASSERT_TRUE(dir.isValid());
        ReplaceSystemPorts([this] { return listed; });
    }
    void TearDown() override {
        ReplaceSystemPorts({});
        ReplaceProbeStart({});
    }

    // A keypad (or a silent one) on a pseudo-terminal, listed by the system when `list` is set,
    // and named by a link in the scratch folder.
    std::string AddKeypad(KeypadConfig config, bool list = true) {
        keypads.push_back(std::make_unique<CKeypadPtyServer>(config));
        std::string error;
        EXPECT_TRUE(keypads.back()->Open(error)) << error;
        keypads.back()->Start();
        const std::string device = keypads.back()->DevicePath();
        if (list) List(device);
        const QString link = dir.filePath(QStringLiteral("kp%1").arg(keypads.size()));
        QFile::link(QString::fromStdString(device), link);
        links.push_back(link.toStdString());
        return device;
    }
    void List(const std::string& device) {
        SystemPort port;
        port.device = device;
        listed.push_back(port);
    }
    // Presses Find and waits for its answer; the milliseconds it took in `ms`.
    std::string Find(CPreferencesDialog& dialog, qint64* ms = nullptr) {
        QElapsedTimer clock;
        clock.start();
        dialog.FindButton()->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.FindButton()->text() == "Find"; }, 20000));
        if (ms) *ms = clock.elapsed();
        // The label holds two lines; its tip, the whole text.
        const QString shown = dialog.FindResult()->text();
        EXPECT_TRUE(shown == dialog.FindResult()->toolTip() || shown.endsWith(QChar(0x2026))) << shown.toStdString();
        return dialog.FindResult()->toolTip().toStdString();
    }

    QTemporaryDir dir;
    CSettingsStore settings;
    std::vector<SystemPort> listed;
    std::vector<std::unique_ptr<CKeypadPtyServer>> keypads;
    std::vector<std::string> links;
};

TEST_F(FindKeypadTest, FindTriesEveryPortAtOnceAndSaysWhatAnswered) {
    CEchoDevice echo;
    ASSERT_FALSE(echo.Path().empty());
    List(echo.Path());
    const std::string first = AddKeypad({});
    {
        CPreferencesDialog dialog(settings);
        EXPECT_EQ(Find(dialog), "Found a keypad on " + first);
        EXPECT_EQ(dialog.PortList()->currentData(CPreferencesDialog::PROBE_NAME_ROLE).toString().toStdString(), first);
        Press(&dialog, "Apply");
        EXPECT_EQ(settings.GetString(KEY_PORT_NAME, ""), first);
    }
    const std::string second = AddKeypad({});
    {
        CPreferencesDialog dialog(settings);
        const std::string byName = std::min(first, second) + ", " + std::max(first, second);
        EXPECT_EQ(Find(dialog), "2 keypads answered: " + byName + ". Choose one from the list.");
        EXPECT_EQ(dialog.PortList()->currentData(CPreferencesDialog::PROBE_NAME_ROLE).toString().toStdString(), first);

        // Stop ends the probes at once.
        dialog.FindButton()->click();
        EXPECT_EQ(dialog.FindButton()->text(), "Stop");
        qint64 ms = 0;
        EXPECT_EQ(Find(dialog, &ms), "Find stopped.");
        EXPECT_LT(ms, 2000);
    }
    // Ten ports where nothing answers take one connection test's give-up time (4.2 s), not ten; an
    // eleventh, with a keypad behind it, hangs in its open: the answer comes at the deadline all
    // the same and names it, and closing Preferences during a search waits for none of it.
    listed.erase(listed.begin() + 1, listed.end());
    for (int i = 0; i < 9; ++i) AddKeypad({.silent = true});
    const std::string hanging = AddKeypad({});
    std::promise<void> release;
    ReplaceProbeStart([hanging, opens = release.get_future().share()](const std::string& port) {
        if (port == hanging) opens.wait();
    });
    qint64 ms = 0;
    auto dialog = std::make_unique<CPreferencesDialog>(settings);
    const std::string text = Find(*dialog, &ms);
    std::printf("ten silent ports and one that hangs: %lld ms\n", static_cast<long long>(ms));
    EXPECT_EQ(text.rfind("No keypad answered on ", 0), 0u) << text;
    EXPECT_TRUE(text.ends_with(" (" + hanging + " did not open in time)")) << text;
    EXPECT_NE(dialog->FindResult()->text().toStdString(), text);  // eleven names do not fit in two lines
    for (const SystemPort& port : listed) EXPECT_NE(text.find(port.device), std::string::npos) << port.device;
    EXPECT_LT(ms, CKeypadFinder::DEADLINE_MS + 1000);
    dialog->FindButton()->click();
    QElapsedTimer closing;
    closing.start();
    dialog.reset();
    EXPECT_LT(closing.elapsed(), 1500);
    // The probes left behind end when their opens return, and let go of the port.
    release.set_value();
    CSerialPort port;
    std::string reason;
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.Open(hanging, reason); }, 3000)) << reason;
}

// --port auto:GLOB: the window looks once it is up, then uses the one keypad that answers; with
// none, each button that needs the port looks again.
TEST_F(FindKeypadTest, AnAutoPortGivesTheWindowTheKeypadThatAnswers) {
    const std::string pattern = "auto:" + dir.filePath("kp*").toStdString();
    AddKeypad({.silent = true}, false);
    auto awaitAnswer = [](CRecordingDialog& window) {
        EXPECT_FALSE(window.TestConnectionButton()->isEnabled());  // till the answer
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.TestConnectionButton()->isEnabled(); }, 20000));
    };
    auto start = [&](CRecordingDialog& window) {
        window.SetAutoPort(pattern);
        window.OnInitDialog();
        awaitAnswer(window);
    };
    const std::string notAvailable = "COM Port: " + pattern + " not available";
    {
        CRecordingDialog window;
        start(window);
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].text, notAvailable + "\nNo keypad answered on " + links[0]);
        QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);  // looks again, sends nothing
        awaitAnswer(window);
        ASSERT_EQ(window.boxes.size(), 2u);
        EXPECT_EQ(window.boxes[1].text, window.boxes[0].text);
        AddKeypad({}, false);
        QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
        awaitAnswer(window);
        EXPECT_EQ(window.boxes.size(), 2u);
        EXPECT_GE(window.StatusTime("Found a keypad on " + links[1]), 0);
        EXPECT_EQ(window.Binding().PortInUse().device, links[1]);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.StatusLine()->text() == "ORBIX detected!"; }, 5000));
    }
    {
        CRecordingDialog window;
        start(window);
        EXPECT_TRUE(window.boxes.empty()) << window.boxes[0].text;
        EXPECT_EQ(window.StatusLine()->text().toStdString(), "Found a keypad on " + links[1]);
        EXPECT_EQ(window.Binding().PortInUse().device, links[1]);
    }
    AddKeypad({}, false);
    CRecordingDialog window;
    start(window);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, notAvailable + "\n2 keypads answered: " + links[1] + ", " + links[2]);
    EXPECT_EQ(window.StatusLine()->text().toStdString(), notAvailable);
}

// The window's own port: Find lets go of it for the probes and the window takes it back; while an
// operation runs on it, Find refuses.
class FindFromTheWindowTest : public WindowWithKeypad {
protected:
    void TearDown() override {
        ReplaceSystemPorts({});
        WindowWithKeypad::TearDown();
    }
    void ListTheKeypad() {
        ReplaceSystemPorts([device = keypad->DevicePath()] {
            SystemPort port;
            port.device = device;
            return std::vector<SystemPort>{port};
        });
    }
    std::string FindInPreferences() {
        std::string found;
        OnNextModal<CPreferencesDialog>([&found](CPreferencesDialog* dialog) {
            dialog->FindButton()->click();
            if (QTest::qWaitFor([&] { return dialog->FindButton()->text() == "Find"; }, 20000))
                found = dialog->FindResult()->text().toStdString();
            Press(dialog, "Cancel");
        });
        window.OnPreferences();
        return found;
    }
};

TEST_F(FindFromTheWindowTest, FindProbesTheWindowsOwnPortAndGivesItBack) {
    StartKeypad(KeypadConfig{});
    ListTheKeypad();
    EXPECT_EQ(FindInPreferences(), "Found a keypad on " + keypad->DevicePath());
    ASSERT_TRUE(window.Binding().IsOpen());
    EXPECT_TRUE(window.boxes.empty()) << window.boxes[0].text;
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(3000));
    EXPECT_EQ(window.StatusLine()->text(), "ORBIX detected!");
}

TEST_F(FindFromTheWindowTest, FindDoesNotRunWhileAnOperationUsesThePort) {
    StartKeypad(KeypadConfig{.silent = true});
    ListTheKeypad();
    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_TRUE(window.Engine().IsBusy());
    EXPECT_EQ(FindInPreferences(), "Find cannot run while the keypad is busy: let the operation end first.");
    EXPECT_TRUE(window.Binding().IsOpen());
    EXPECT_TRUE(window.Engine().IsBusy());
}

}  // namespace
#endif

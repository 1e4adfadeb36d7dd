#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/user_host.h"
#include "ui/loader_dialog.h"

// A device path that names nothing, so the window starts with its port closed.
inline constexpr const char* NO_SUCH_PORT = "/dev/orbix-test-no-such-port";

// The main window with its dialogs replaced: the file choice answers with `fileToChoose`, the
// question with `answerYes` (or the real question box when `realQuestions` is set), and every box,
// question, status and time text is recorded with the milliseconds since construction.
class CRecordingDialog : public CLoaderDialog {
public:
    struct Entry {
        std::string text;
        qint64 ms;
    };
    struct Box {
        std::string text;
        MessageKind kind;
    };

    CRecordingDialog();

    std::string fileToChoose;
    bool answerYes = true;
    bool realQuestions = false;
    // The stall guard fires after this many milliseconds instead of its seconds (0: as set).
    int stallGuardMs = 0;
    std::vector<Box> boxes;
    std::vector<std::string> questions;
    std::vector<Entry> statuses;
    std::vector<Entry> timeTexts;

    void ShowStatus(const std::string& text) override;
    void TimeRemaining(int seconds) override;
    void SetTimer(int id, int periodMs) override;
    qint64 Elapsed() const { return m_clock.elapsed(); }
    // When the status line first showed `text`; -1 if never.
    qint64 StatusTime(const std::string& text) const;

private:
    QElapsedTimer m_clock;
};

// Empties the settings store of the test run.
void ClearSettings();
// Bytes that differ from their neighbours and from an erased flash.
std::vector<uint8_t> TestPattern(size_t count);
// A firmware file: the "S003" header line, S1 records of 32 bytes from address 0, an S9 end.
void WriteSRecordFile(const QString& path, const std::vector<uint8_t>& bytes);
void WriteBinaryFile(const QString& path, const std::vector<uint8_t>& bytes);

// Runs `action` on the next modal dialog of type D as soon as it is open (polled, so it works
// from before an exec() that blocks). Gives up after `timeoutMs`.
template <class D>
void OnNextModal(std::function<void(D*)> action, int timeoutMs = 3000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, timeoutMs] {
        D* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!dialog && clock->elapsed() < timeoutMs) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (dialog) action(dialog);
    });
    timer->start(10);
}

#ifdef ORBIX_HAVE_SIM
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "sim/pty_server.h"

// A shown window whose port, for this run, is a simulated keypad on a pseudo-terminal.
class WindowWithKeypad : public testing::Test {
protected:
    void SetUp() override {
        ClearSettings();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        if (keypad) keypad->Stop();
    }
    void StartKeypad(const KeypadConfig& config) {
        keypad = std::make_unique<CKeypadPtyServer>(config);
        std::string error;
        ASSERT_TRUE(keypad->Open(error)) << error;
        keypad->Start();
        window.SetPortOverride(PortSpec{0, keypad->DevicePath()});
        window.OnInitDialog();
        window.show();
        ASSERT_TRUE(window.boxes.empty()) << window.boxes[0].text;
    }
    bool WaitUntilIdle(int timeoutMs) {
        return QTest::qWaitFor([this] { return !window.Engine().IsBusy(); }, timeoutMs);
    }

    QTemporaryDir dir;
    CRecordingDialog window;
    std::unique_ptr<CKeypadPtyServer> keypad;
};
#endif

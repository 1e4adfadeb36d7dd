// Pictures of the main window at the stages of an update and of each dialog, for a person to
// check against the layout:  gui_shots [OUTPUT-FOLDER]   (default /tmp/orbix-shots)
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>

#include "../window_fixture.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/help_dialog.h"
#include "ui/percent_progress_ctrl.h"
#include "ui/preferences_dialog.h"
#ifdef ORBIX_HAVE_SIM
#include "sim/pty_server.h"
#endif

namespace {

QString g_folder;

void Save(QWidget* widget, const char* name) {
    QApplication::processEvents();
    const QString path = g_folder + "/" + name + ".png";
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

// Waits for a stage; a stage that never comes is said, and the picture taken anyway.
template <class Predicate>
void WaitFor(const char* stage, Predicate predicate, int timeoutMs) {
    if (!QTest::qWaitFor(predicate, timeoutMs)) std::fprintf(stderr, "stage not reached: %s\n", stage);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir scratch;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratch.path());
    QApplication app(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/orbix-shots");
    QDir().mkpath(g_folder);

    CRecordingDialog window;
#ifdef ORBIX_HAVE_SIM
    // As --simulate runs it: the real line rate and a short erase.
    KeypadConfig config;
    config.baud = 115200;
    config.eraseMsPerSector = 300;
    CKeypadPtyServer keypad(config);
    std::string error;
    if (!keypad.Open(error)) {
        std::fprintf(stderr, "simulated keypad: %s\n", error.c_str());
        return 1;
    }
    keypad.Start();
    window.SetPortOverride(PortSpec{0, keypad.DevicePath()});
#else
    window.SetPortOverride(PortSpec{0, NO_SUCH_PORT});
#endif
    window.OnInitDialog();
    window.show();
    WaitFor(
        "window shown", [&] { return window.isVisible(); }, 2000);
    Save(&window, "1-idle");

#ifdef ORBIX_HAVE_SIM
    const QString file = scratch.filePath("demo.s");
    WriteSRecordFile(file, TestPattern(48 * 1024));
    window.fileToChoose = file.toStdString();
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    WaitFor(
        "erasing", [&] { return window.StatusLine()->text() == "Erasing firmware sector: 8"; }, 5000);
    Save(&window, "2-erasing");
    WaitFor(
        "sending", [&] { return window.ProgressBar()->GetRange(false) == 100 && window.ProgressBar()->GetPos() >= 45; },
        10000);
    QTest::qWait(1100);  // one countdown tick
    Save(&window, "3-sending");
    WaitFor(
        "complete", [&] { return !window.Engine().IsBusy(); }, 20000);
    Save(&window, "4-complete");
    QTest::qWait(1100);
    Save(&window, "5-complete-later");
    keypad.Stop();
#endif

    CPreferencesDialog preferences(window.Settings());
    preferences.show();
    Save(&preferences, "6-preferences");
    CHelpDialog help;
    help.show();
    Save(&help, "7-help");
    CAboutDialog about(AppIcon());
    about.show();
    Save(&about, "8-about");
    return 0;
}

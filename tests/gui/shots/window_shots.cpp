// Pictures of the main window at the stages of an update and of each dialog, for a person to
// check against the layout:  gui_shots [OUTPUT-FOLDER]   (default /tmp/orbix-shots)
// Run under a real display (Xvfb) for the pictures of the whole screen: a box over the window.
// At another scale (QT_SCALE_FACTOR=2) the names end in "-200".
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>

#include "../window_fixture.h"
#include "desktop/app_icon.h"
#include "desktop/percent_progress_ctrl.h"
#include "serial/port_list.h"
#include "ui/about_dialog.h"
#include "ui/help_dialog.h"
#include "ui/preferences_dialog.h"
#ifdef ORBIX_HAVE_SIM
#include "sim/pty_server.h"
#endif

namespace {

QString g_folder;

QString PathFor(const char* name) {
    const qreal scale = QGuiApplication::primaryScreen()->devicePixelRatio();
    const QString suffix = scale == 1 ? QString() : QStringLiteral("-%1").arg(qRound(scale * 100));
    const QString path = g_folder + "/" + name + suffix + ".png";
    std::printf("%s\n", qPrintable(path));
    return path;
}

void Save(QWidget* widget, const char* name) {
    QApplication::processEvents();
    widget->grab().save(PathFor(name));
}

// The whole screen, so a box shows where it stands over the window.
void SaveScreen(const char* name) {
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(PathFor(name));
}

// Takes a picture of the next question or box, of the screen or of the box alone, then answers
// it with `button`.
void ShootNextBox(const char* name, bool wholeScreen, QMessageBox::StandardButton button) {
    OnNextModal<QMessageBox>([name, wholeScreen, button](QMessageBox* box) {
        QTest::qWait(300);  // drawn and placed
        if (wholeScreen)
            SaveScreen(name);
        else
            Save(box, name);
        box->button(button)->click();
    });
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
    CKeypadPtyServer keypad(DemoKeypadConfig());  // as --simulate runs it
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
    // Escape by accident: the question over the window, answered No.
    window.realQuestions = true;
    ShootNextBox("3a-close-question", true, QMessageBox::No);
    QTest::keyClick(&window, Qt::Key_Escape);
    window.realQuestions = false;
    WaitFor(
        "complete", [&] { return !window.Engine().IsBusy(); }, 20000);
    Save(&window, "4-complete");
    QTest::qWait(1100);
    Save(&window, "5-complete-later");

    // A long file name: the status line shows its beginning (the erase question answered No).
    const QString longName = scratch.filePath("orbix-keypad-firmware-release-candidate-for-production-line-B.s");
    WriteSRecordFile(longName, TestPattern(1024));
    window.fileToChoose = longName.toStdString();
    window.answerYes = false;
    QTest::mouseClick(window.UpdateFirmwareButton(), Qt::LeftButton);
    Save(&window, "5a-long-file-name");
    keypad.Stop();

    // As with --simulate: the simulated keypad's device is listed and selected.
    OnNextModal<CPreferencesDialog>([](CPreferencesDialog* preferences) {
        Save(preferences, "6-preferences-simulate");
        preferences->reject();
    });
    window.OnPreferences();

    // Find with a keypad on an adapter the system lists beside a port that answers nothing.
    CKeypadPtyServer found(DemoKeypadConfig());
    if (found.Open(error)) {
        found.Start();
        ReplaceSystemPorts([&found] {
            return std::vector<SystemPort>{{"/dev/ttyS0", "", "", -1, -1, ""},
                                           {found.DevicePath(), "FT232R USB UART", "A50285BI", 0x0403, 0x6001, ""}};
        });
        CPreferencesDialog finding(window.Settings());
        finding.show();
        QPushButton* find = nullptr;
        for (QPushButton* button : finding.findChildren<QPushButton*>())
            if (button->text() == "Find") find = button;
        find->click();  // it reads "Stop" until the search ends
        WaitFor(
            "found", [&] { return find->text() == "Find"; }, 8000);
        Save(&finding, "6b-preferences-found");
        ReplaceSystemPorts({});
        found.Stop();
    }
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
    about.hide();
    help.hide();
    preferences.hide();
    window.hide();

    // A port that is not there at start-up: the box over the window it belongs to.
    CLoaderDialog startUp;
    startUp.SetPortOverride(PortSpec{0, NO_SUCH_PORT});
    ShootNextBox("9-start-up-not-available", true, QMessageBox::Ok);
    startUp.OnInitDialog();
    return 0;
}

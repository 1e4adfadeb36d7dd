#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Widgets need one QApplication for the whole run; the tests share it.
int main(int argc, char** argv)
{
    // CTest lists the tests by running this program without the test's environment, and a
    // machine without a display would abort there.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Fontconfig sees the tests' own fonts only: the reference pictures hold on any machine.
    qputenv("FONTCONFIG_FILE", ORBIX_TEST_FONTS_CONF);
    testing::InitGoogleTest(&argc, argv);
    // The window's settings go to a folder of this run, never to the user's own file.
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid())
        return 1;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

#include <QApplication>

#include <gtest/gtest.h>

// Widgets need one QApplication for the whole run; the tests share it.
int main(int argc, char** argv)
{
    // CTest lists the tests by running this program without the test's environment, and a
    // machine without a display would abort there.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

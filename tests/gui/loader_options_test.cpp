#include <gtest/gtest.h>

#include <QStringList>

#include "ui/standard_dialogs.h"
#include "ui/loader_app.h"

namespace {

bool Parse(QStringList arguments, LoaderOptions& options, std::string& error) {
    arguments.prepend("orbix-loader");
    return ParseLoaderOptions(arguments, options, error) == 1;
}

TEST(LoaderOptionsTest, PortTakesANumberAComNameOrADevicePath) {
    const struct {
        QStringList arguments;
        int number;
        std::string device;
    } cases[] = {
        {{"--port", "3"}, 3, ComDeviceName(3)},
        {{"--port", "com5"}, 5, ComDeviceName(5)},
        {{"--port=/dev/ttyUSB0"}, 0, "/dev/ttyUSB0"},
        {{"--port", "/dev/serial/by-id/usb-adapter"}, 0, "/dev/serial/by-id/usb-adapter"},
        {{"--port", "rfc2217://[::1]:4001"}, 0, "rfc2217://[::1]:4001"},
    };
    for (const auto& c : cases) {
        LoaderOptions options;
        std::string error;
        ASSERT_TRUE(Parse(c.arguments, options, error)) << error;
        EXPECT_TRUE(options.hasPort);
        EXPECT_FALSE(options.simulate);
        EXPECT_EQ(options.port.device, c.device);
        if (c.number) {
            EXPECT_EQ(options.port.number, c.number);
        }
    }
}

TEST(LoaderOptionsTest, RefusesWhatMakesNoSense) {
    for (const QStringList& arguments :
         {QStringList{"--port"}, QStringList{"--port", "COMX"}, QStringList{"--port", "tcp://gw"},
          QStringList{"--simulate", "--port", "2"}, QStringList{"--frobnicate"}, QStringList{"notes.txt", "a.s"}}) {
        LoaderOptions options;
        std::string error;
        EXPECT_FALSE(Parse(arguments, options, error)) << arguments.join(' ').toStdString();
        EXPECT_FALSE(error.empty());
    }
}

TEST(LoaderOptionsTest, AFileOfAnotherKindIsRefusedWithoutEndingTheWindow) {
    LoaderOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "COM3", "notes.txt"}, options, error)) << error;
    EXPECT_TRUE(options.file.isEmpty());
    EXPECT_EQ(options.refusedFile, "notes.txt: not a firmware (.s) or screens (.bin) file");
}

TEST(FileFilterTest, BecomesQtNameFiltersAndAllFilesMatchesNamesWithoutADot) {
    EXPECT_EQ(QtNameFilters({{"ORBIX Firmware", {"*.s"}}, {"All Files", {"*"}}}),
              (QStringList{"ORBIX Firmware (*.s)", "All Files (*)"}));
    EXPECT_EQ(QtNameFilters({{"Screens", {"*.bin", "*.img"}}}), QStringList{"Screens (*.bin *.img)"});
    EXPECT_TRUE(QtNameFilters({}).isEmpty());
}

}  // namespace

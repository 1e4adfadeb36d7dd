#include <gtest/gtest.h>

#include <QStringList>

#include "ui/standard_dialogs.h"
#include "ui/loader_app.h"
#include "production/bench_app.h"

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
    // A bad port in orbix-flash's words.
    LoaderOptions options;
    std::string error;
    EXPECT_FALSE(Parse({"--port", "COMX"}, options, error));
    EXPECT_EQ(error.rfind("--port takes a COM number (3 or COM3), a device path,", 0), 0u) << error;
}

TEST(LoaderOptionsTest, AFileOfAnotherKindIsRefusedWithoutEndingTheWindow) {
    LoaderOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "COM3", "notes.txt"}, options, error)) << error;
    EXPECT_TRUE(options.file.isEmpty());
    EXPECT_EQ(options.refusedFile, "notes.txt: not a firmware (.s) or screens (.bin) file");
}

// Both windows' --help from their tables: 80 columns at most, every option there.
TEST(LoaderOptionsTest, UsageFitsEightyColumnsAndTheBenchReadsItsTable) {
    for (const std::string& usage : {LoaderUsage(), BenchUsage()}) {
        size_t start = 0;
        for (size_t end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1)
            EXPECT_LE(end - start, 80u) << usage.substr(start, end - start);
        for (const char* form : {"--help", "--version"}) EXPECT_NE(usage.find(form), std::string::npos) << usage;
    }
    EXPECT_NE(BenchUsage().find("--simulate[=N]"), std::string::npos);
    EXPECT_NE(LoaderUsage().find("--port=PORT"), std::string::npos);

    const struct {
        QStringList arguments;
        int simulate;
        std::string profile;
    } accepted[] = {{{"--simulate"}, 4, ""}, {{"--simulate=2", "--log", "x.jsonl"}, 2, ""}, {{"line.orbix-bench"}, 0, "line.orbix-bench"}};
    for (const auto& c : accepted) {
        BenchOptions options;
        std::string error;
        ASSERT_TRUE(ParseBenchOptions(QStringList{"orbix-bench"} + c.arguments, options, error)) << error;
        EXPECT_EQ(options.simulate, c.simulate);
        EXPECT_EQ(options.profile, c.profile);
    }
    for (const QStringList& arguments : {QStringList{"--simulate=33"}, QStringList{"--simulate", "a.orbix-bench"},
                                         QStringList{"--log="}, QStringList{"a", "b"}, QStringList{"--port=3"}}) {
        BenchOptions options;
        std::string error;
        EXPECT_FALSE(ParseBenchOptions(QStringList{"orbix-bench"} + arguments, options, error))
            << arguments.join(' ').toStdString();
        EXPECT_FALSE(error.empty());
    }
}

TEST(FileFilterTest, BecomesQtNameFiltersAndAllFilesMatchesNamesWithoutADot) {
    EXPECT_EQ(QtNameFilters({{"ORBIX Firmware", {"*.s"}}, {"All Files", {"*"}}}),
              (QStringList{"ORBIX Firmware (*.s)", "All Files (*)"}));
    EXPECT_EQ(QtNameFilters({{"Screens", {"*.bin", "*.img"}}}), QStringList{"Screens (*.bin *.img)"});
    EXPECT_TRUE(QtNameFilters({}).isEmpty());
}

}  // namespace

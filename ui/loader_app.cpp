#include "loader_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "desktop/app_icon.h"
#include "desktop/help_version.h"
#include "desktop/quit_signals.h"
#include "loader_dialog.h"
#include "session/option_table.h"
#include "sim/simulated_keypad.h"
#include "standard_dialogs.h"

namespace {

const std::vector<OptionRow>& LoaderOptionRows() {
    static const std::vector<OptionRow> rows = {
        {"", "simulate", "", "serve a simulated keypad and use it for this run"},
        {"", "port", "PORT",
         "use PORT for this run (not stored): N, COMN, a device path, rfc2217://HOST:PORT, tcp://HOST:PORT, or auto "
         "(auto:GLOB): the port where a keypad answers"},
        {"h", "help", "", "show this text"},
        {"", "version", "", "show the version"},
    };
    return rows;
}

}  // namespace

std::string LoaderUsage() {
    return "Usage: orbix-loader [--simulate | --port PORT] [FILE]\n" +
           Wrapped(
               "Installs firmware or screens into an ORBIX keypad over a serial line. FILE, a firmware (.s) or "
               "screens (.bin) file, starts its update after the question.",
               0) +
           "\n" + OptionLines(LoaderOptionRows(), 20);
}

int ParseLoaderOptions(const QStringList& arguments, LoaderOptions& options, std::string& error) {
    QCommandLineParser parser;
    if (!ParseOptionRows(parser, LoaderOptionRows(), arguments, error)) return 0;
    options.simulate = parser.isSet("simulate");
    options.help = parser.isSet("help");
    options.version = parser.isSet("version");
    if (parser.isSet("port")) {
        std::string value = parser.value("port").toStdString();
        if (!CheckPortName("--port", value, error)) return 0;
        if (IsAutoPort(value))
            options.autoPort = value;
        else
            ParsePortArgument(value, options.port);
        options.hasPort = true;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        error = "unexpected argument " + files[1].toStdString() + ": one file at a time";
        return 0;
    }
    if (!files.isEmpty()) {
        if (CLoaderDialog::IsUpdateFile(files[0]))
            options.file = QFileInfo(files[0]).absoluteFilePath();  // remembered for the next choice
        else
            options.refusedFile = files[0].toStdString() + ": not a firmware (.s) or screens (.bin) file";
    }
    if (options.simulate && options.hasPort) {
        error = "--simulate and --port cannot be used together";
        return 0;
    }
    return 1;
}

int CLoaderApp::Run(int argc, char** argv) {
    if (AnswerHelpOrVersion(argc, argv, "orbix-loader", LoaderUsage())) return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(APP_NAME));
    QApplication::setApplicationVersion(QStringLiteral(ORBIX_VERSION_TEXT));
    QApplication::setOrganizationName(QStringLiteral("Calvane"));
    QApplication::setDesktopFileName(QStringLiteral("orbix-loader"));
    QApplication::setWindowIcon(AppIcon());

    // Qt has taken its own options (-platform, -style, ...) out by now.
    LoaderOptions options;
    std::string error;
    // Said in a box too: started from a desktop or Explorer, the window has nowhere else to say it.
    if (!ParseLoaderOptions(QApplication::arguments(), options, error)) {
        std::fprintf(stderr, "orbix-loader: %s\n%s", error.c_str(), LoaderUsage().c_str());
        RunMessageBox(nullptr, APP_NAME, error + "\n\n" + LoaderUsage(), MESSAGE_WARNING);
        return 2;
    }

    std::unique_ptr<CSimulatedKeypad> keypad;
    if (options.simulate) {
        keypad = std::make_unique<CSimulatedKeypad>(DemoKeypadConfig());
        if (!keypad->Open(error)) {
            std::fprintf(stderr, "orbix-loader: the simulated keypad could not start: %s\n", error.c_str());
            return 1;
        }
        keypad->Start();
        options.port = PortSpec{0, keypad->DevicePath()};
        options.hasPort = true;
    }

    CLoaderDialog dialog;
    const auto quitWatch = WatchQuitSignals([&dialog](int signo) { dialog.Quit(128 + signo); });
    if (!options.autoPort.empty())
        dialog.SetAutoPort(options.autoPort);
    else if (options.hasPort)
        dialog.SetPortOverride(options.port);
    dialog.OnInitDialog();
    // From the window's own loop, so the questions sit over the shown window.
    if (!options.file.isEmpty())
        QMetaObject::invokeMethod(
            &dialog, [&dialog, &options] { dialog.OpenFile(options.file); }, Qt::QueuedConnection);
    if (!options.refusedFile.empty()) {
        std::fprintf(stderr, "orbix-loader: %s\n", options.refusedFile.c_str());
        QMetaObject::invokeMethod(
            &dialog, [&dialog, &options] { RunMessageBox(&dialog, APP_NAME, options.refusedFile, MESSAGE_WARNING); },
            Qt::QueuedConnection);
    }
    dialog.exec();
    return 0;
}

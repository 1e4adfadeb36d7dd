#include "loader_app.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "app_icon.h"
#include "help_version.h"
#include "loader_dialog.h"
#include "quit_signals.h"
#include "standard_dialogs.h"
#include "sim/simulated_keypad.h"

std::string LoaderUsage() {
    return "Usage: orbix-loader [--simulate | --port PORT] [FILE]\n"
           "Installs firmware or screens into an ORBIX keypad over a serial line.\n"
           "FILE, a firmware (.s) or screens (.bin) file, starts its update after the question.\n"
           "\n"
           "  --simulate     serve a simulated keypad and use it for this run\n"
           "  --port PORT    use PORT for this run (not stored): N, COMN, a device path,\n"
           "                 rfc2217://HOST:PORT, tcp://HOST:PORT, or auto (auto:GLOB):\n"
           "                 the port where a keypad answers\n"
           "  -h, --help     show this text\n"
           "  --version      show the version\n";
}

int ParseLoaderOptions(const QStringList& arguments, LoaderOptions& options, std::string& error) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--simulate")) {
            options.simulate = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--version")) {
            options.version = true;
        } else if (argument == QLatin1String("--port") || argument.startsWith(QLatin1String("--port="))) {
            QString value;
            if (argument.startsWith(QLatin1String("--port=")))
                value = argument.mid(7);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else {
                error = "--port needs a port: N, COMN, a device path or a network port";
                return 0;
            }
            if (IsAutoPort(value.toStdString())) {
                options.autoPort = value.toStdString();
            } else if (!ParsePortArgument(value.toStdString(), options.port)) {
                error = "--port " + value.toStdString() +
                        ": not a port (N, COMN, a device path, rfc2217://HOST:PORT, tcp://HOST:PORT, auto or "
                        "auto:GLOB)";
                return 0;
            }
            options.hasPort = true;
        } else if (!argument.startsWith(QLatin1Char('-')) && options.file.isEmpty() && options.refusedFile.empty()) {
            if (CLoaderDialog::IsUpdateFile(argument))
                options.file = QFileInfo(argument).absoluteFilePath();  // remembered for the next choice
            else
                options.refusedFile = argument.toStdString() + ": not a firmware (.s) or screens (.bin) file";
        } else {
            error = "unknown option " + argument.toStdString();
            return 0;
        }
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
    if (!options.autoPort.empty()) dialog.SetAutoPort(options.autoPort);
    else if (options.hasPort) dialog.SetPortOverride(options.port);
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

#include "bench_app.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>
#include <cstdio>

#include "bench_simulation.h"
#include "bench_window.h"
#include "ui/app_icon.h"
#include "ui/help_version.h"
#include "ui/quit_signals.h"

std::string BenchUsage() {
    return "Usage: orbix-bench [--log FILE] [PROFILE]\n"
           "       orbix-bench --simulate[=N] [--log FILE]\n"
           "  PROFILE         the bench profile to open\n"
           "  --simulate[=N]  a bench of N slots (default 4, at most 32) on simulated keypads\n"
           "  --log FILE      write the records to FILE, whatever the profile says\n"
           "  --help, --version\n";
}

int ParseBenchOptions(const QStringList& arguments, BenchOptions& options, std::string& error) {
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--simulate")) {
            options.simulate = 4;
        } else if (argument.startsWith(QLatin1String("--simulate="))) {
            bool ok = false;
            options.simulate = argument.mid(11).toInt(&ok);
            if (!ok || options.simulate < 1 || options.simulate > CBenchSimulation::MOST_SLOTS) {
                error = "--simulate takes a number of slots from 1 to 32";
                return 0;
            }
        } else if (argument == QLatin1String("--log") || argument.startsWith(QLatin1String("--log="))) {
            QString value = argument.size() > 5 ? argument.mid(6) : (i + 1 < arguments.size() ? arguments[++i] : "");
            if (value.isEmpty()) {
                error = "--log needs a file";
                return 0;
            }
            // Relative to where the bench was started, not to the profile.
            options.log = QDir::current().absoluteFilePath(value).toStdString();
        } else if (argument.startsWith(QLatin1String("-")) && argument.size() > 1) {
            error = "unknown option " + argument.toStdString();
            return 0;
        } else if (options.profile.empty()) {
            options.profile = argument.toStdString();
        } else {
            error = "one profile at a time";
            return 0;
        }
    }
    if (options.simulate && !options.profile.empty()) {
        error = "--simulate makes its own profile: leave PROFILE out";
        return 0;
    }
    return 1;
}

int CBenchApp::Run(int argc, char** argv) {
    if (AnswerHelpOrVersion(argc, argv, "orbix-bench", BenchUsage())) return 0;
    // The slots' sessions wake for every frame: Qt's own event loop costs their threads less a
    // wake than GLib's. The window's thread keeps GLib's, which the system's dialogs may need.
    qputenv("QT_NO_THREADED_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ORBIX Bench"));
    QApplication::setApplicationVersion(QStringLiteral(ORBIX_VERSION_TEXT));
    QApplication::setDesktopFileName(QStringLiteral("orbix-bench"));
    QApplication::setWindowIcon(AppIcon());

    BenchOptions options;
    std::string error;
    if (!ParseBenchOptions(QApplication::arguments(), options, error)) {
        std::fprintf(stderr, "orbix-bench: %s\n%s", error.c_str(), BenchUsage().c_str());
        QMessageBox::warning(nullptr, QStringLiteral("ORBIX Bench"),
                             QString::fromStdString(error + "\n\n" + BenchUsage()));
        return 2;
    }

    CBenchSimulation simulation;
    if (options.simulate && !simulation.Start(options.simulate, options.log, error)) {
        std::fprintf(stderr, "orbix-bench: the simulated keypads could not start: %s\n", error.c_str());
        return 1;
    }

    CBenchWindow window;
    window.SetLogOverride(options.log);
    const auto quitWatch = WatchQuitSignals([&window](int signo) { window.Quit(128 + signo); });
#ifndef QT_NO_SESSIONMANAGER
    // The session is ending: every slot stops in order, as for a signal.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.Quit(0); });
#endif
    window.resize(window.screen()->availableGeometry().size());
    window.showMaximized();
    if (options.simulate) {
        window.UseProfile(simulation.Profile(), simulation.ProfilePath());
        window.StartAll();
    } else if (!options.profile.empty()) {
        QMetaObject::invokeMethod(
            &window, [&] { window.OpenProfile(options.profile); }, Qt::QueuedConnection);
    }
    return app.exec();
}

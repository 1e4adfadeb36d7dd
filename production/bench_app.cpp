#include "bench_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "bench_simulation.h"
#include "bench_window.h"
#include "desktop/app_icon.h"
#include "desktop/help_version.h"
#include "desktop/quit_signals.h"
#include "session/option_table.h"

namespace {

// The window whose stations must end before the program does.
CBenchWindow* g_window = nullptr;

// The display went away: Qt ends the program with exit(), its threads still
// running. The stations end in order first, as for a signal, and nothing of
// the program is torn down under them.
void EndStationsFirst() {
    if (CBenchWindow* window = std::exchange(g_window, nullptr)) std::_Exit(window->EndNow());
}

constexpr int DEFAULT_SIMULATED_SLOTS = 4;

const std::vector<OptionRow>& BenchOptionRows() {
    static const std::vector<OptionRow> rows = {
        {"", "simulate", "N",
         "a bench of N slots (default " + std::to_string(DEFAULT_SIMULATED_SLOTS) + ", at most " +
             std::to_string(CBenchSimulation::MOST_SLOTS) + ") on simulated keypads",
         ~0u, std::to_string(DEFAULT_SIMULATED_SLOTS)},
        {"", "log", "FILE", "write the records to FILE, whatever the profile says"},
        {"h", "help", "", "show this text"},
        {"", "version", "", "show the version"},
    };
    return rows;
}

}  // namespace

std::string BenchUsage() {
    return "Usage: orbix-bench [--log FILE] [PROFILE]\n"
           "       orbix-bench --simulate[=N] [--log FILE]\n"
           "  PROFILE           the bench profile to open\n" +
           OptionLines(BenchOptionRows(), 20);
}

int ParseBenchOptions(const QStringList& arguments, BenchOptions& options, std::string& error) {
    QCommandLineParser parser;
    if (!ParseOptionRows(parser, BenchOptionRows(), arguments, error) ||
        !ReadNumberOption(parser, "simulate", 1, CBenchSimulation::MOST_SLOTS, options.simulate, error, " of slots"))
        return 0;
    if (parser.isSet("log")) {
        QString log = parser.value("log");
        if (log.isEmpty()) {
            error = "--log needs a file";
            return 0;
        }
        // Relative to where the bench was started, not to the profile.
        options.log = QDir::current().absoluteFilePath(log).toStdString();
    }
    const QStringList profiles = parser.positionalArguments();
    if (profiles.size() > 1) {
        error = "one profile at a time";
        return 0;
    }
    if (!profiles.isEmpty()) options.profile = profiles[0].toStdString();
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
    g_window = &window;
    std::atexit(EndStationsFirst);
    window.resize(window.screen()->availableGeometry().size());
    window.showMaximized();
    if (options.simulate) {
        window.UseProfile(simulation.Profile(), simulation.ProfilePath());
        window.StartAll();
    } else if (!options.profile.empty()) {
        QMetaObject::invokeMethod(
            &window, [&] { window.OpenProfile(options.profile); }, Qt::QueuedConnection);
    }
    const int exitCode = app.exec();
    g_window = nullptr;
    return exitCode;
}

// orbix-flash: the loader from a terminal or a script.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <vector>

#include "console_output.h"
#include "inspect.h"
#include "keypad_command.h"
#include "options.h"
#include "ports.h"
#include "records_push.h"
#include "report.h"
#include "session/exit_code.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    // argv comes in the ANSI code page; Qt reads the wide command line, so a file name in any
    // script reaches the options (and the files are opened) as UTF-8.
    std::vector<std::string> utf8;
    for (const QString& argument : QCoreApplication::arguments()) utf8.push_back(argument.toStdString());
    std::vector<char*> wideArgv;
    for (std::string& argument : utf8) wideArgv.push_back(argument.data());
    argc = static_cast<int>(wideArgv.size());
    argv = wideArgv.data();
#endif
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "orbix-flash: %s\nTry 'orbix-flash --help'.\n", Printable(error).c_str());
        return EXIT_USAGE;
    }
    switch (options.command) {
        case CLI_HELP:
            std::fputs(CliUsage().c_str(), stdout);
            return EXIT_OK;
        case CLI_VERSION:
            std::printf("orbix-flash %s\n", ORBIX_VERSION_TEXT);
            return EXIT_OK;
        case CLI_PORTS:
            return ListPorts();
        case CLI_INSPECT:
            return InspectFile(options.request.file);
        case CLI_REPORT:
            return PrintReport(options.reportLogs, options.json ? REPORT_JSON : options.csv ? REPORT_CSV : REPORT_TEXT);
        case CLI_RECORDS:
            return PushRecordsCommand(options.reportLogs, options.plan.database);
        default:
            return RunKeypadCommand(options);
    }
}

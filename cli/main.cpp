// orbix-flash: the loader from a terminal or a script.
#include <QCoreApplication>
#include <cstdio>

#include "session/exit_code.h"
#include "inspect.h"
#include "keypad_command.h"
#include "options.h"
#include "ports.h"

int main(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "orbix-flash: %s\nTry 'orbix-flash --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    switch (options.command) {
    case CLI_HELP:
        std::fputs(CLI_USAGE, stdout);
        return EXIT_OK;
    case CLI_VERSION:
        std::printf("orbix-flash %s\n", ORBIX_VERSION_TEXT);
        return EXIT_OK;
    case CLI_PORTS: {
        QCoreApplication app(argc, argv);
        return ListPorts();
    }
    case CLI_INSPECT:
        return InspectFile(options.file);
    default: {
        QCoreApplication app(argc, argv);
        return RunKeypadCommand(options);
    }
    }
}

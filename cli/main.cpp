// orbix-flash: the loader from a terminal or a script.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "cli_host.h"
#include "inspect.h"
#include "interrupts.h"
#include "options.h"
#include "ports.h"
#include "sim/pty_server.h"

namespace {

// The simulated keypad of --simulate: a line at 115200 baud and an erase that
// takes a quarter of a second a sector, so the demo looks like the real thing.
KeypadConfig SimulatedKeypad() {
    KeypadConfig config;
    config.baud = 115200;
    config.eraseMsPerSector = 250;
    return config;
}

int RunOperation(int argc, char** argv, const CliOptions& options) {
    QCoreApplication app(argc, argv);
    int interruptFd = InstallInterruptHandler();

    std::unique_ptr<CKeypadPtyServer> keypad;
    std::string device;
    if (options.simulate) {
        keypad = std::make_unique<CKeypadPtyServer>(SimulatedKeypad());
        std::string error;
        if (!keypad->Open(error)) {
            std::fprintf(stderr, "orbix-flash: the simulated keypad could not start: %s\n", error.c_str());
            return EXIT_USAGE;
        }
        keypad->Start();
        device = keypad->DevicePath();
    }

    CCliHost host(options);
    std::unique_ptr<QSocketNotifier> notifier;
    if (interruptFd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(interruptFd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
            char byte;
            if (read(interruptFd, &byte, 1) == 1) host.Interrupt(128 + g_interruptSignal);
        });
    }
    int code = host.Run(device);
    if (keypad) keypad->Stop();
    return code;
}

}  // namespace

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
    default:
        return RunOperation(argc, argv, options);
    }
}

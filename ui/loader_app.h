#pragma once

#include <QStringList>
#include <string>

#include "serial/port_naming.h"

// What the command line asks of the window.
struct LoaderOptions {
    bool simulate = false;  // serve a simulated keypad in-process and use it for this run
    bool hasPort = false;   // use `port` for this run (not stored)
    PortSpec port;
    std::string autoPort;   // --port auto or auto:GLOB: the keypad that answers gives the port
    bool help = false;
    bool version = false;
    QString file;  // a .s or .bin file to update from once the window is up
    // Why the FILE argument was not taken: said in a box, and the window opens idle.
    std::string refusedFile;
};

// Parses the program's arguments (argv[0] first). 0 with `error` set when they make no sense;
// a FILE that is no update file is no such error (see `refusedFile`).
int ParseLoaderOptions(const QStringList& arguments, LoaderOptions& options, std::string& error);
// The --help text.
std::string LoaderUsage();

// Starts the program: reads the options, starts the simulated keypad if asked, and runs the main
// window until it closes.
class CLoaderApp {
public:
    int Run(int argc, char** argv);
};

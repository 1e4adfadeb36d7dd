#pragma once
#include <QStringList>
#include <string>

// What the command line asks of the bench.
struct BenchOptions {
    int simulate = 0;     // --simulate[=N]: N simulated keypads (0: none)
    std::string log;      // --log FILE: the records log, whatever the profile says
    std::string profile;  // PROFILE
};

// Parses the program's arguments (argv[0] first; --help and --version are answered before); 0 with
// `error` when they make no sense.
int ParseBenchOptions(const QStringList& arguments, BenchOptions& options, std::string& error);
std::string BenchUsage();

// Starts the bench: the options, the simulated keypads if asked, the window until it closes.
class CBenchApp {
public:
    int Run(int argc, char** argv);
};

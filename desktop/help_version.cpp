#include "help_version.h"

#include <cstdio>

int AnswerHelpOrVersion(int argc, char** argv, const char* program, const std::string& usage) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage.c_str(), stdout);
            return 1;
        }
        if (argument == "--version") {
            std::printf("%s %s\n", program, ORBIX_VERSION_TEXT);
            return 1;
        }
    }
    return 0;
}

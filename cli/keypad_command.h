#pragma once
#include "options.h"

// The commands that talk to keypads (test, firmware, screens, scan), on one
// port, on many at once, on an auto port, or as a station. Needs a
// QCoreApplication. Returns the exit code.
int RunKeypadCommand(const CliOptions& options);

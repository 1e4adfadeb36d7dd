#pragma once
#include <string>
#include <utility>
#include <vector>

// How a keypad command ends, as orbix-flash's exit code.
enum SessionExit {
    EXIT_OK = 0,
    EXIT_FAILED = 1,      // nothing was erased: the keypad is as it was
    EXIT_USAGE = 2,       // usage, port or file problem: nothing was sent
    EXIT_INCOMPLETE = 3,  // failed after an erase: no valid image until updated again
    EXIT_RECORDS = 4,     // records could not be written (to --log)
    EXIT_INTERRUPTED = 130,
    EXIT_TERMINATED = 143,
};

// The more serious of two exit codes: 143 over 130 over 3 over 4 over 1 over 2
// over 0. A SIGTERM comes from the system or a supervisor, which must see it
// was obeyed; lost records matter less than a keypad left erased.
int MoreSeriousExit(int a, int b);

// What an exit code says of the keypad: ok, failed, incomplete (failed after
// an erase) or interrupted.
const char* OutcomeName(int exitCode);

// Every exit code with what it means, in order, for a program's help.
std::vector<std::pair<int, std::string>> ExitCodeMeanings();
// "143, then 130, 3, 4, 1, 2 and 0": the most serious first.
std::string ExitCodesBySeriousness();

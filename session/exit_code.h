#pragma once

// How a keypad command ends, as orbix-flash's exit code.
enum SessionExit {
    EXIT_OK = 0,
    EXIT_FAILED = 1,       // nothing was erased: the keypad is as it was
    EXIT_USAGE = 2,        // usage, port or file problem: nothing was sent
    EXIT_INCOMPLETE = 3,   // failed after an erase: no valid image until updated again
    EXIT_RECORDS = 4,      // records could not be written (to --log)
    EXIT_INTERRUPTED = 130,
    EXIT_TERMINATED = 143,
};

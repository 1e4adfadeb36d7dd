#include "terminal_policy.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "console_output.h"
#include "interrupts.h"

ISessionPolicy::Reply CTerminalPolicy::ConfirmErase(const std::string& question) {
    if (!isatty(STDIN_FILENO))
        return {ANSWER_NONE,
                "\"" + question + "\" needs an answer and there is no terminal: run again with --yes to confirm the erase"};
    Output(stdout, Printable(question) + " [y/N] ");
    FlushOutput();
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return {ANSWER_YES, ""};
    return {ANSWER_NO, "Erase declined. Nothing was changed."};
}

ISessionPolicy::Reply CTerminalPolicy::AcceptDamagedFile(const std::string& question) {
    if (!m_force) return {ANSWER_NO, ""};
    return {ANSWER_YES, "warning: " + question + " Yes (--force): installing it as it reads."};
}

int CTerminalPolicy::PendingInterrupt() const { return g_caughtSignal ? 128 + g_caughtSignal : 0; }

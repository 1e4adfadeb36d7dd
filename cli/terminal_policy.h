#pragma once
#include "session/session_request.h"

// orbix-flash's answers to a session's questions: the erase by --yes or by a
// person at the terminal, a damaged file by --force; Ctrl-C and SIGTERM
// taken before the session could be told.
class CTerminalPolicy : public ISessionPolicy {
public:
    explicit CTerminalPolicy(bool force) : m_force(force) {}
    Reply ConfirmErase(const std::string& question) override;
    Reply AcceptDamagedFile(const std::string& question) override;
    int PendingInterrupt() const override;

private:
    bool m_force;
};

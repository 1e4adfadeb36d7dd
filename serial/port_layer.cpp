#include "port_layer.h"

#include <QEventLoop>

namespace {

// The exit code of the open's own wake-ups; anything else is the application quitting.
constexpr int WAKE = 1;

}  // namespace

int IPortLayer::WaitForOpen(const std::string& name, std::string& reason) {
    int open = -1;
    StartOpen(name, [&](int ended, const std::string& why) {
        open = ended;
        reason = why;
    });
    while (IsOpening()) {  // an open that does not wait has ended already
        QEventLoop loop;
        m_waitLoop = &loop;
        const int woken = loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_waitLoop = nullptr;
        if (woken != WAKE) CancelOpen();
    }
    return open;
}

void IPortLayer::WakeOpenWait() {
    if (m_waitLoop) m_waitLoop->exit(WAKE);
}

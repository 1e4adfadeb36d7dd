#include "qt_loader_host.h"

#include <QThread>
#include <ctime>

CQtLoaderHost::CQtLoaderHost(bool readOnlySettings)
    : m_settings(readOnlySettings),
      m_engine(*this),
      m_binding(m_engine, m_settings),
      m_timers([this](int id) { m_engine.OnTimer(id); }) {}

void CQtLoaderHost::Sleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

int64_t CQtLoaderHost::CurrentTime() { return static_cast<int64_t>(std::time(nullptr)); }

#pragma once
#include <cstdint>

#include "engine/loader_engine.h"
#include "port_binding.h"
#include "qt_timers.h"
#include "settings_store.h"

// The engine as every Qt front end hosts it: the engine, its port binding, its
// timers and the settings store, answering the port, time and settings parts
// of ILoaderHost. The window and the keypad session derive from it and answer
// the rest: the events, the file choice and the questions.
class CQtLoaderHost : public ILoaderHost {
public:
    // A read-only settings store ignores writes (the command line never stores).
    explicit CQtLoaderHost(bool readOnlySettings);

    CLoaderEngine& Engine() { return m_engine; }
    CPortBinding& Binding() { return m_binding; }
    CSettingsStore& Settings() { return m_settings; }

    void WriteFrameToPort(const uint8_t* data, int count) override { m_binding.WriteFrameToPort(data, count); }
    void SetBreak(bool on) override { m_binding.SetBreak(on); }
    void SetTimer(int id, int periodMs) override { m_timers.SetTimer(id, periodMs); }
    void KillTimer(int id) override { m_timers.KillTimer(id); }
    void Sleep(int ms) override;
    int64_t CurrentTime() override;
    int GetProfileInt(const char* key, int defaultValue) override { return m_settings.GetInt(key, defaultValue); }
    void WriteProfileInt(const char* key, int value) override { m_settings.WriteInt(key, value); }
    std::string GetProfileString(const char* key, const std::string& defaultValue) override {
        return m_settings.GetString(key, defaultValue);
    }
    void WriteProfileString(const char* key, const std::string& value) override { m_settings.WriteString(key, value); }

protected:
    CSettingsStore m_settings;
    CLoaderEngine m_engine;
    CPortBinding m_binding;
    CQtTimers m_timers;
};

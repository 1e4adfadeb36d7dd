#pragma once
#include <QSettings>
#include <string>

// The settings store: INI file of organisation "Calvane", application
// "ORBIXLoader", section "ORBIXLoader". Tests point QSettings' INI path at a
// temporary folder (QSettings::setPath) before creating one.
class CSettingsStore {
public:
    // A read-only store ignores writes (the command line never stores).
    explicit CSettingsStore(bool readOnly = false);

    int GetInt(const char* key, int defaultValue);
    void WriteInt(const char* key, int value);
    std::string GetString(const char* key, const std::string& defaultValue);
    void WriteString(const char* key, const std::string& value);
    // Why the settings could not be saved, the first time they could not; empty after that,
    // so a front end says it once.
    std::string TakeWriteFailure();
    QString FileName() const { return m_settings.fileName(); }

private:
    void Save();

    QSettings m_settings;
    bool m_readOnly;
    bool m_failed = false;
    std::string m_failure;
};

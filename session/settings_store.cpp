#include "settings_store.h"

namespace {
QString Key(const char* key) { return QStringLiteral("ORBIXLoader/") + QString::fromLatin1(key); }
}  // namespace

CSettingsStore::CSettingsStore(bool readOnly)
    : m_settings(QSettings::IniFormat, QSettings::UserScope, "Calvane", "ORBIXLoader"), m_readOnly(readOnly) {}

int CSettingsStore::GetInt(const char* key, int defaultValue) {
    bool ok = false;
    int value = m_settings.value(Key(key)).toInt(&ok);
    return ok ? value : defaultValue;
}

void CSettingsStore::WriteInt(const char* key, int value) {
    if (m_readOnly) return;
    m_settings.setValue(Key(key), value);
    m_settings.sync();
}

std::string CSettingsStore::GetString(const char* key, const std::string& defaultValue) {
    QVariant value = m_settings.value(Key(key));
    return value.isValid() ? value.toString().toStdString() : defaultValue;
}

void CSettingsStore::WriteString(const char* key, const std::string& value) {
    if (m_readOnly) return;
    m_settings.setValue(Key(key), QString::fromStdString(value));
    m_settings.sync();
}

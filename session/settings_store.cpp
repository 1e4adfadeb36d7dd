#include "settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <utility>

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
    Save();
}

std::string CSettingsStore::GetString(const char* key, const std::string& defaultValue) {
    QVariant value = m_settings.value(Key(key));
    return value.isValid() ? value.toString().toStdString() : defaultValue;
}

void CSettingsStore::WriteString(const char* key, const std::string& value) {
    if (m_readOnly) return;
    m_settings.setValue(Key(key), QString::fromStdString(value));
    Save();
}

void CSettingsStore::Save() {
    m_settings.sync();
    if (m_settings.status() == QSettings::NoError || m_failed) return;
    m_failed = true;
    // QSettings gives no reason; opening the file as it would names one.
    const QString path = FileName();
    QFile file(path);
    QString reason = QStringLiteral("its folder cannot be written");
    if (!file.open(QIODevice::ReadWrite))
        reason = file.errorString();
    else if (QFileInfo(QFileInfo(path).absolutePath()).isWritable())
        reason = QStringLiteral("the file cannot be written");
    m_failure = "The settings could not be saved to " + path.toStdString() + ": " + reason.toStdString() +
                ". They are lost when the program ends.";
}

std::string CSettingsStore::TakeWriteFailure() { return std::exchange(m_failure, {}); }

#pragma once

#include <QDialog>

class QComboBox;
class CSettingsStore;

// Chooses the serial port: COM1 to COM16, then the serial devices those do not cover (USB
// adapters), which are stored by path; a network port (rfc2217://HOST:PORT, tcp://HOST:PORT) or
// another device is typed in and stored by name. Apply stores the choice; Cancel stores nothing.
class CPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    CPreferencesDialog(CSettingsStore& settings, QWidget* parent = nullptr);

    QComboBox* PortList() const { return m_ports; }

    void accept() override;  // Apply

private:
    void FillPortList();

    CSettingsStore& m_settings;
    QComboBox* m_ports = nullptr;
};

#pragma once

#include <QDialog>

#include "serial/port_naming.h"

class QComboBox;
class CSettingsStore;

// Chooses the serial port: COM1 to COM16, then the serial devices those do not cover (USB
// adapters), which are stored by path; a network port (rfc2217://HOST:PORT, tcp://HOST:PORT) or
// another device is typed in and stored by name. Apply stores the choice; Cancel stores nothing.
class CPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    // portForRun: a port given for this run only (--port, --simulate). It is listed and selected,
    // and Apply with it still selected stores nothing.
    CPreferencesDialog(CSettingsStore& settings, const PortSpec* portForRun = nullptr, QWidget* parent = nullptr);

    QComboBox* PortList() const { return m_ports; }
    // After Apply: the port given for the run was still selected, so nothing was stored.
    bool KeptPortForRun() const { return m_keptPortForRun; }

    void accept() override;  // Apply

private:
    void FillPortList(const PortSpec* portForRun);

    CSettingsStore& m_settings;
    QComboBox* m_ports = nullptr;
    int m_portForRunIndex = -2;  // no entry has this index
    bool m_keptPortForRun = false;
};

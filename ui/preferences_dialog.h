#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "serial/port_naming.h"
#include "session/keypad_finder.h"

class QComboBox;
class QLabel;
class QPushButton;
class CSettingsStore;

// Chooses the serial port. The ports the system has come first, with what the system says of
// them; then COM1 to COM16; then a stored port that is absent now. A COM port is stored by its
// number, another device by its path; a network port (rfc2217://HOST:PORT, tcp://HOST:PORT) or
// another device is typed in and stored by name. Find tries every port the system has for a
// keypad at once. Apply stores the choice; Cancel stores nothing.
class CPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    // Item data of the list: whether the system has the port now, and the name Find probes it by.
    static constexpr int PROBE_NAME_ROLE = Qt::UserRole + 1;

    // portForRun: a port given for this run only (--port, --simulate). It is listed and selected,
    // and Apply with it still selected stores nothing.
    CPreferencesDialog(CSettingsStore& settings, const PortSpec* portForRun = nullptr, QWidget* parent = nullptr);

    QComboBox* PortList() const { return m_ports; }
    QPushButton* FindButton() const { return m_find; }
    QLabel* FindResult() const { return m_found; }
    // After Apply: the port given for the run was still selected, so nothing was stored.
    bool KeptPortForRun() const { return m_keptPortForRun; }

    // Find asks this first: why it may not run now, or "" once the window has let go of its port
    // for the probes.
    std::function<std::string()> beforeFind;

    void accept() override;  // Apply
    void done(int result) override;

private:
    void FillPortList(const PortSpec* portForRun);
    int IndexOf(const PortSpec& port) const;
    void OnFind();
    void ShowFound(const KeypadSearch& search);
    void ShowFindText(const std::string& text);

    CSettingsStore& m_settings;
    QComboBox* m_ports = nullptr;
    QPushButton* m_find = nullptr;
    QLabel* m_found = nullptr;
    CKeypadFinder m_finder;
    int m_portForRunIndex = -2;  // no entry has this index
    bool m_keptPortForRun = false;
};

#pragma once
#include <QDialog>
#include <string>

#include "session/bench_profile.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

// Makes or changes a bench profile: the command, the image (its SHA-256 taken
// as it is chosen, and kept while it is not: another image is pinned only once the
// old and the new hash have been shown), the records log, the slots from the system's ports, and
// how the slots start, the keypads' labels and who the records name. Names come out absolute; saving makes them
// relative.
class CProfileDialog : public QDialog {
public:
    // `profilePath`: where the profile's relative names start (empty: a new one).
    CProfileDialog(const BenchProfile& profile, QWidget* parent, const std::string& profilePath = "");

    const BenchProfile& Profile() const { return m_profile; }

    void accept() override;

private:
    void AddSlot(const QString& name, const QString& port);
    void ChooseImage();
    void ChooseLog();
    void Refuse(const QString& text);
    bool PinAnother(const std::string& pinned, const std::string& chosen);  // asks

    BenchProfile m_profile;
    QComboBox* m_command;
    QLineEdit* m_image;
    QLineEdit* m_log;
    QSpinBox* m_retries;
    QSpinBox* m_stall;
    QComboBox* m_start;
    QComboBox* m_serial;
    QLineEdit* m_pattern;
    QLineEdit* m_station;
    QCheckBox* m_operator;
    QCheckBox* m_locked;
    QLineEdit* m_password;
    QTableWidget* m_slots;
    QComboBox* m_ports;
    QLabel* m_problem;
    std::string m_pinnedImage;  // as the image field first showed it
    bool m_imageChosen = false;
};

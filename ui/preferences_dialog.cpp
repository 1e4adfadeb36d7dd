#include "preferences_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <algorithm>

#include "dialog_units.h"
#include "serial/port_binding.h"
#include "serial/port_naming.h"
#include "serial/settings_store.h"

namespace {
constexpr int LAST_LISTED_COM = 16;
}

CPreferencesDialog::CPreferencesDialog(CSettingsStore& settings, const PortSpec* portForRun, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("Preferences"));
    const CDialogUnits du(font());
    setFixedSize(du.Size(217, 46));

    auto* apply = new QPushButton(QStringLiteral("Apply"), this);
    apply->setGeometry(du.Rect(160, 7, 50, 14));
    apply->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(du.Rect(160, 24, 50, 14));

    m_ports = new QComboBox(this);
    m_ports->setObjectName(QStringLiteral("portList"));
    m_ports->setEditable(false);
    m_ports->setMaxVisibleItems(8);
    const QRect comboRect = du.Rect(47, 16, 85, 14);
    const int comboHeight = std::max(comboRect.height(), m_ports->sizeHint().height());
    m_ports->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(), comboHeight);
    // The label keeps its place at the left and sits level with the list's text.
    auto* label = new QLabel(QStringLiteral("COM Port:"), this);
    label->setGeometry(du.X(7), comboRect.y(), du.X(38), comboHeight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(apply, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(apply, cancel);
    setTabOrder(cancel, m_ports);
    FillPortList(portForRun);
    apply->setFocus();
}

void CPreferencesDialog::FillPortList(const PortSpec* portForRun) {
    // Item data: the COM number, or the device path of a port known by path alone.
    for (int n = 1; n <= LAST_LISTED_COM; ++n) m_ports->addItem(QStringLiteral("COM%1").arg(n), n);

    const bool runPortIsListedCom = portForRun && portForRun->number >= 1 && portForRun->number <= LAST_LISTED_COM;
    // The port of this run is what the window uses, whatever the system lists (a pseudo-terminal).
    const QString runPath = portForRun && !runPortIsListedCom ? QString::fromStdString(portForRun->device) : QString();
    const QString storedPath = QString::fromStdString(m_settings.GetString(KEY_PORT_NAME, ""));
    QStringList paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        const int number = ComNumberOfDevice(path.toStdString());
        if (number >= 1 && number <= LAST_LISTED_COM) continue;
        paths << path;
    }
    // A stored adapter that is unplugged right now is still the user's choice: keep it listed.
    if (!storedPath.isEmpty() && !paths.contains(storedPath)) paths << storedPath;
    if (!runPath.isEmpty() && !paths.contains(runPath)) paths << runPath;
    paths.sort();
    paths.removeDuplicates();
    for (const QString& path : paths) m_ports->addItem(path, path);

    int index = -1;
    if (portForRun) {
        index = runPortIsListedCom ? portForRun->number - 1 : m_ports->findData(runPath);
        m_portForRunIndex = index;
    } else if (!storedPath.isEmpty()) {
        index = m_ports->findData(storedPath);
    } else {
        const int comPort = m_settings.GetInt(KEY_COM_PORT, 1);
        // Anything outside COM1 to COM16 selects nothing.
        if (comPort >= 1 && comPort <= LAST_LISTED_COM) index = comPort - 1;
    }
    m_ports->setCurrentIndex(index);
}

void CPreferencesDialog::accept() {
    const int index = m_ports->currentIndex();
    // Unchanged: the port of this run stays in use, and it is not the user's stored choice.
    m_keptPortForRun = index == m_portForRunIndex;
    if (m_keptPortForRun) {
        QDialog::accept();
        return;
    }
    const QVariant data = m_ports->itemData(index);
    if (index >= 0 && data.typeId() == QMetaType::QString) {
        m_settings.WriteString(KEY_PORT_NAME, data.toString().toStdString());
    } else {
        // No selection counts as index -1 and stores 0.
        m_settings.WriteInt(KEY_COM_PORT, index + 1);
        if (!m_settings.GetString(KEY_PORT_NAME, "").empty()) m_settings.WriteString(KEY_PORT_NAME, "");
    }
    QDialog::accept();
}

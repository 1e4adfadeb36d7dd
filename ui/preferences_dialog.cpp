#include "preferences_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "dialog_units.h"
#include "loader_dialog.h"
#include "serial/port_list.h"
#include "serial/port_naming.h"
#include "session/port_binding.h"
#include "session/settings_store.h"
#include "standard_dialogs.h"

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
    // Editable: a port on the network (or a device the system does not list) is typed in.
    m_ports->setEditable(true);
    m_ports->setInsertPolicy(QComboBox::NoInsert);
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
    // Item data: the COM number, or the name of a port known by path or network address alone.
    for (int n = 1; n <= LAST_LISTED_COM; ++n) m_ports->addItem(QStringLiteral("COM%1").arg(n), n);

    const bool runPortIsListedCom = portForRun && portForRun->number >= 1 && portForRun->number <= LAST_LISTED_COM;
    // The port of this run is what the window uses, whatever the system lists (a pseudo-terminal).
    const QString runPath = portForRun && !runPortIsListedCom ? QString::fromStdString(portForRun->device) : QString();
    const QString storedPath = QString::fromStdString(m_settings.GetString(KEY_PORT_NAME, ""));
    QStringList paths;
    for (const SystemPort& port : SystemPorts()) {
        const int number = ComNumberOfDevice(port.device);
        if (number >= 1 && number <= LAST_LISTED_COM) continue;
        paths << QString::fromStdString(port.device);
    }
    // A stored adapter that is unplugged right now, or a network port, is still the user's choice:
    // keep it listed.
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
    // Picked from the list, or typed in: a network port, a device path, N or COMN.
    const QString text = m_ports->currentText().trimmed();
    const int index = m_ports->findText(text);
    // Unchanged: the port of this run stays in use, and it is not the user's stored choice.
    m_keptPortForRun = index >= 0 && index == m_portForRunIndex;
    if (m_keptPortForRun) {
        QDialog::accept();
        return;
    }
    const QVariant data = m_ports->itemData(index);
    PortSpec port;
    if (index >= 0 && data.typeId() == QMetaType::QString) {
        port.device = data.toString().toStdString();
    } else if (index >= 0 || text.isEmpty()) {
        port.number = index + 1;  // no selection counts as index -1 and stores 0
    } else if (!ParsePortArgument(text.toStdString(), port)) {
        RunMessageBox(this, APP_NAME,
                      "\"" + text.toStdString() +
                          "\" is not a port. Choose one from the list, or type a device path, "
                          "rfc2217://HOST:PORT or tcp://HOST:PORT.",
                      MESSAGE_WARNING);
        return;
    }
    if (port.number > 0 || port.device.empty()) {
        m_settings.WriteInt(KEY_COM_PORT, port.number);
        if (!m_settings.GetString(KEY_PORT_NAME, "").empty()) m_settings.WriteString(KEY_PORT_NAME, "");
    } else {
        m_settings.WriteString(KEY_PORT_NAME, port.device);
    }
    QDialog::accept();
}

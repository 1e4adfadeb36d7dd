#include "preferences_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <tuple>

#include "dialog_units.h"
#include "loader_dialog.h"
#include "serial/port_list.h"
#include "session/exit_code.h"
#include "session/port_binding.h"
#include "session/port_discovery.h"
#include "session/settings_store.h"
#include "standard_dialogs.h"

namespace {

constexpr int LAST_LISTED_COM = 16;

bool IsListedCom(int number) { return number >= 1 && number <= LAST_LISTED_COM; }

// "COM5 - USB Serial Port (COM5)", "/dev/ttyUSB0 - FT232R USB UART A50285BI": the name first, as
// the field is narrow; on POSIX systems COM1 to COM16 with their device.
std::string ListLabel(const SystemPort& port, int number) {
    const bool posix = SYSTEM_NAMING == NAMING_POSIX;
    std::string name = number > 0 ? "COM" + std::to_string(number) : posix ? port.device : PlainComName(port.device);
    std::string about = PortDescription(port);
    if (posix && number > 0) about = port.device + (about.empty() ? "" : " " + about);
    return about.empty() ? name : name + " - " + about;
}

}  // namespace

CPreferencesDialog::CPreferencesDialog(CSettingsStore& settings, const PortSpec* portForRun, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("Preferences"));
    const CDialogUnits du(font());
    setFixedSize(du.Size(217, 63));

    auto* apply = new QPushButton(QStringLiteral("Apply"), this);
    apply->setGeometry(du.Rect(160, 7, 50, 14));
    apply->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(du.Rect(160, 24, 50, 14));
    m_find = new QPushButton(QStringLiteral("Find"), this);
    m_find->setObjectName(QStringLiteral("findButton"));
    m_find->setGeometry(du.Rect(160, 42, 50, 14));
    m_find->setToolTip(QStringLiteral("Try every port the system has for a keypad"));

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
    // What Find found, two lines at most, under the list.
    m_found = new QLabel(this);
    m_found->setObjectName(QStringLiteral("findResult"));
    m_found->setGeometry(du.Rect(7, 38, 146, 20));
    m_found->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_found->setWordWrap(true);

    connect(apply, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_find, &QPushButton::clicked, this, &CPreferencesDialog::OnFind);
    // The field is narrower than most labels: show their start, the port's name, not their end.
    connect(m_ports, &QComboBox::currentIndexChanged, this, [this] { m_ports->lineEdit()->setCursorPosition(0); });
    setTabOrder(apply, cancel);
    setTabOrder(cancel, m_find);
    setTabOrder(m_find, m_ports);
    FillPortList(portForRun);
    // The descriptions are wider than the field: the open list shows them whole.
    m_ports->view()->setMinimumWidth(m_ports->view()->sizeHintForColumn(0) + du.X(8));
    apply->setFocus();
}

// Item data: the COM number, or the name of a port known by path or network address alone.
void CPreferencesDialog::FillPortList(const PortSpec* portForRun) {
    std::vector<SystemPort> present = SystemPorts();
    // COM ports by number, then the paths.
    auto order = [](const SystemPort& port) {
        const int number = ComNumberOfDevice(port.device);
        return std::make_tuple(number == 0, number, port.device);
    };
    std::sort(present.begin(), present.end(), [&](const SystemPort& a, const SystemPort& b) { return order(a) < order(b); });
    QFont presentFont = font();
    presentFont.setBold(true);
    for (const SystemPort& port : present) {
        const int number = ComNumberOfDevice(port.device);
        const int listedNumber = IsListedCom(number) ? number : 0;
        m_ports->addItem(QString::fromStdString(ListLabel(port, number)),
                         listedNumber ? QVariant(listedNumber) : QVariant(QString::fromStdString(port.device)));
        const int row = m_ports->count() - 1;
        m_ports->setItemData(row, QVariant::fromValue(presentFont), Qt::FontRole);
        const std::string probe = SYSTEM_NAMING == NAMING_WINDOWS ? PlainComName(port.device) : port.device;
        m_ports->setItemData(row, QString::fromStdString(probe), PROBE_NAME_ROLE);
    }
    if (m_ports->count() > 0) m_ports->insertSeparator(m_ports->count());

    const std::string storedName = m_settings.GetString(KEY_PORT_NAME, "");
    const PortSpec stored = PortFromSettings(m_settings.GetInt(KEY_COM_PORT, 1), storedName);
    const bool storedByName = !storedName.empty();
    const bool runIsListedCom = portForRun && IsListedCom(portForRun->number);
    // The port the settings name is still the user's choice when the system lacks it now.
    auto absent = [](const QString& name) { return name + QStringLiteral(" (absent)"); };
    for (int n = 1; n <= LAST_LISTED_COM; ++n) {
        if (m_ports->findData(n) >= 0) continue;
        const QString name = QStringLiteral("COM%1").arg(n);
        m_ports->addItem(!storedByName && stored.number == n ? absent(name) : name, n);
    }
    if (storedByName && IndexOf(stored) < 0) {
        const QString path = QString::fromStdString(stored.device);
        // A port the system does not list cannot be missed from its list, and a link may name a listed device.
        const std::string identity = DeviceIdentity(stored.device);
        const bool there = !CapabilitiesOf(stored.device).listed ||
                           std::any_of(present.begin(), present.end(),
                                       [&](const SystemPort& port) { return DeviceIdentity(port.device) == identity; });
        m_ports->addItem(there ? path : absent(path), path);
    }
    // The port of this run is what the window uses, whatever the system lists (a pseudo-terminal).
    if (portForRun && !runIsListedCom && IndexOf(*portForRun) < 0) {
        const QString path = QString::fromStdString(portForRun->device);
        m_ports->addItem(path, path);
    }

    int index = -1;
    if (portForRun) {
        index = IndexOf(*portForRun);
        m_portForRunIndex = index;
    } else {
        index = IndexOf(stored);  // anything outside COM1 to COM16 selects nothing
    }
    m_ports->setCurrentIndex(index);
}

int CPreferencesDialog::IndexOf(const PortSpec& port) const {
    if (IsListedCom(port.number)) return m_ports->findData(port.number);
    return port.device.empty() ? -1 : m_ports->findData(QString::fromStdString(port.device));
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
        port.number = data.toInt();  // no selection stores 0
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

// The probes end before the window opens its port again.
void CPreferencesDialog::done(int result) {
    m_finder.Cancel();
    QDialog::done(result);
}

void CPreferencesDialog::OnFind() {
    if (m_finder.IsRunning()) {
        m_finder.Stop(EXIT_INTERRUPTED);
        return;
    }
    std::vector<std::string> ports;
    for (int i = 0; i < m_ports->count(); ++i) {
        const QString probe = m_ports->itemData(i, PROBE_NAME_ROLE).toString();
        if (!probe.isEmpty()) ports.push_back(probe.toStdString());
    }
    if (ports.empty()) {
        ShowFindText("The system has no serial port to try.");
        return;
    }
    const std::string refusal = beforeFind ? beforeFind() : "";
    if (!refusal.empty()) {
        ShowFindText(refusal);
        return;
    }
    m_find->setText(QStringLiteral("Stop"));
    ShowFindText("Looking for a keypad on " + JoinedNames(ports) + "...");
    m_finder.Start(ports, [this](const KeypadSearch& search) { ShowFound(search); });
}

void CPreferencesDialog::ShowFound(const KeypadSearch& search) {
    m_find->setText(QStringLiteral("Find"));
    if (search.stopExit) {
        ShowFindText("Find stopped.");
        return;
    }
    std::string problem = search.Problem();
    if (problem.empty()) {
        const QString found = QString::fromStdString(search.answered[0]);
        for (int i = 0; i < m_ports->count(); ++i)
            if (m_ports->itemData(i, PROBE_NAME_ROLE).toString() == found) m_ports->setCurrentIndex(i);
        ShowFindText("Found a keypad on " + search.answered[0]);
        return;
    }
    problem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
    ShowFindText(problem + (search.answered.empty() ? "" : ". Choose one from the list."));
}

// A long list of names is cut at two lines; the tip holds it whole.
void CPreferencesDialog::ShowFindText(const std::string& text) {
    const QString whole = QString::fromStdString(text);
    const QFontMetrics metrics(m_found->font());
    const QRect room = m_found->contentsRect();
    auto fits = [&](const QString& shown) {
        return metrics.boundingRect(room, Qt::TextWordWrap, shown).height() <= room.height();
    };
    QString shown = whole;
    for (qsizetype keep = whole.size() - 1; keep > 0 && !fits(shown); --keep) shown = whole.left(keep) + QChar(0x2026);
    m_found->setText(shown);
    m_found->setToolTip(whole);
}

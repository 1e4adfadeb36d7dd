#include "profile_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <set>

#include "engine/file_steps.h"
#include "serial/port_list.h"
#include "session/image_file.h"
#include "session/run_defaults.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CProfileDialog::CProfileDialog(const BenchProfile& profile, QWidget* parent, const std::string& profilePath)
    : QDialog(parent), m_profile(profile) {
    setWindowTitle(QStringLiteral("Bench profile"));
    auto* form = new QFormLayout;
    m_command = new QComboBox(this);
    m_command->addItem(QStringLiteral("Firmware"), KEYPAD_FIRMWARE);
    m_command->addItem(QStringLiteral("Screens"), KEYPAD_SCREENS);
    m_command->setCurrentIndex(profile.command == KEYPAD_SCREENS ? 1 : 0);
    form->addRow(QStringLiteral("&Update:"), m_command);

    auto fileRow = [&](const QString& label, QLineEdit*& edit, const std::string& given, auto choose) {
        edit = new QLineEdit(given.empty() ? QString() : Text(BenchProfilePath(profilePath, given)), this);
        auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), this);
        browse->setAccessibleName(QStringLiteral("Browse for the ") + QString(label).remove('&').remove(':'));
        connect(browse, &QPushButton::clicked, this, choose);
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(browse);
        auto* name = new QLabel(label, this);
        name->setBuddy(edit);
        form->addRow(name, row);
    };
    fileRow(QStringLiteral("&Image:"), m_image, profile.image, [this] { ChooseImage(); });
    m_pinnedImage = m_image->text().toStdString();
    fileRow(QStringLiteral("Re&cords log:"), m_log, profile.log, [this] { ChooseLog(); });
    m_retries = new QSpinBox(this);
    m_retries->setRange(0, MOST_RETRIES);
    m_retries->setValue(profile.retries);
    form->addRow(QStringLiteral("&Retries:"), m_retries);
    m_stall = new QSpinBox(this);
    m_stall->setRange(1, MOST_STALL_TIMEOUT_SECONDS);
    m_stall->setSuffix(QStringLiteral(" s"));
    m_stall->setValue(profile.stallTimeoutSeconds);
    form->addRow(QStringLiteral("&Stall time-out:"), m_stall);
    m_start = new QComboBox(this);
    m_start->addItem(QStringLiteral("When a keypad is put in"));
    m_start->addItem(QStringLiteral("When the operator presses Start"));
    m_start->setCurrentIndex(profile.startByOperator ? 1 : 0);
    form->addRow(QStringLiteral("Each &unit starts:"), m_start);
    m_locked = new QCheckBox(QStringLiteral("Opens l&ocked: only Start and Stop"), this);
    m_locked->setChecked(profile.locked);
    form->addRow(QString(), m_locked);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(profile.passwordHash.empty() ? QStringLiteral("none")
                                                                : QStringLiteral("kept as it is"));
    form->addRow(QStringLiteral("Unlock &password:"), m_password);
    m_serial = new QComboBox(this);
    m_serial->addItem(QStringLiteral("Not asked for"), SERIAL_OFF);
    m_serial->addItem(QStringLiteral("Scanned when there is one"), SERIAL_OPTIONAL);
    m_serial->addItem(QStringLiteral("Scanned before each unit"), SERIAL_REQUIRED);
    m_serial->setCurrentIndex(m_serial->findData(profile.serial));
    form->addRow(QStringLiteral("Keypad's &label:"), m_serial);
    m_pattern = new QLineEdit(Text(profile.serialPattern), this);
    m_pattern->setPlaceholderText(QStringLiteral("any code (a regular expression, e.g. KP-[0-9]{6})"));
    form->addRow(QStringLiteral("Serial pa&ttern:"), m_pattern);
    m_station = new QLineEdit(Text(profile.station), this);
    m_station->setPlaceholderText(QStringLiteral("the PC's name"));
    form->addRow(QStringLiteral("Station &name:"), m_station);
    m_operator = new QCheckBox(QStringLiteral("Ask for the operator's &badge or name before the first Start"), this);
    m_operator->setChecked(profile.operatorRequired);
    form->addRow(QString(), m_operator);

    m_slots = new QTableWidget(0, 2, this);
    m_slots->setHorizontalHeaderLabels({QStringLiteral("Slot"), QStringLiteral("Port")});
    m_slots->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_slots->setTabKeyNavigation(false);
    for (const BenchSlot& slot : profile.slots) AddSlot(Text(slot.name), Text(slot.port));
    m_ports = new QComboBox(this);
    m_ports->setEditable(true);
    m_ports->setAccessibleName(QStringLiteral("Port to add"));
    for (const SystemPort& port : SystemPorts()) m_ports->addItem(Text(port.link.empty() ? port.device : port.link));
    auto* add = new QPushButton(QStringLiteral("&Add slot"), this);
    auto* remove = new QPushButton(QStringLiteral("Re&move slot"), this);
    connect(add, &QPushButton::clicked, this,
            [this] { AddSlot(QStringLiteral("Slot %1").arg(m_slots->rowCount() + 1), m_ports->currentText()); });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (m_slots->currentRow() >= 0) m_slots->removeRow(m_slots->currentRow());
    });
    auto* slotButtons = new QHBoxLayout;
    slotButtons->addWidget(m_ports, 1);
    slotButtons->addWidget(add);
    slotButtons->addWidget(remove);

    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("QLabel { color: #a00000; }"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("Slots (a name, then a port as the command line takes it, "
                                                "auto:GLOB too):"),
                                 this));
    layout->addWidget(m_slots, 1);
    layout->addLayout(slotButtons);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
    resize(640, 600);
}

void CProfileDialog::AddSlot(const QString& name, const QString& port) {
    const int row = m_slots->rowCount();
    m_slots->insertRow(row);
    m_slots->setItem(row, 0, new QTableWidgetItem(name));
    m_slots->setItem(row, 1, new QTableWidgetItem(port));
}

void CProfileDialog::ChooseImage() {
    const bool screens = m_command->currentData().toInt() == KEYPAD_SCREENS;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("The image the bench sends"), m_image->text(),
        screens ? QStringLiteral("Screens (*.bin);;All files (*)") : QStringLiteral("Firmware (*.s);;All files (*)"));
    if (path.isEmpty()) return;
    m_image->setText(path);
    m_imageChosen = true;  // the same name chosen again may hold a new image
}

void CProfileDialog::ChooseLog() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("The records log"), m_log->text(),
                                                      QStringLiteral("Records (*.jsonl);;All files (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) m_log->setText(path);
}

void CProfileDialog::Refuse(const QString& text) { m_problem->setText(text); }

bool CProfileDialog::PinAnother(const std::string& pinned, const std::string& chosen) {
    QMessageBox ask(QMessageBox::Question, windowTitle(),
                    Text("The image is another one. The profile pins the SHA-256\n" + pinned +
                         "\nand the image chosen hashes to\n" + chosen + "\nPin the image chosen?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.setDefaultButton(QMessageBox::No);
    return ask.exec() == QMessageBox::Yes;
}

// An image chosen is hashed here: the profile pins the file as it is now.
void CProfileDialog::accept() {
    BenchProfile profile = m_profile;
    profile.command = static_cast<KeypadCommand>(m_command->currentData().toInt());
    profile.image = m_image->text().trimmed().toStdString();
    profile.log = m_log->text().trimmed().toStdString();
    profile.retries = m_retries->value();
    profile.stallTimeoutSeconds = m_stall->value();
    profile.startByOperator = m_start->currentIndex() == 1;
    profile.locked = m_locked->isChecked();
    profile.serial = static_cast<SerialNeed>(m_serial->currentData().toInt());
    profile.serialPattern = m_pattern->text().trimmed().toStdString();
    profile.station = m_station->text().trimmed().toStdString();
    profile.operatorRequired = m_operator->isChecked();
    std::string patternError;
    if (!profile.serialPattern.empty() && !CSerialPattern().Set(profile.serialPattern, patternError))
        return Refuse(Text("The serial pattern cannot be used: " + patternError + "."));
    profile.slots.clear();
    std::set<std::string> names;
    for (int row = 0; row < m_slots->rowCount(); ++row) {
        auto cell = [&](int column) {
            const QTableWidgetItem* item = m_slots->item(row, column);
            return item ? item->text().trimmed().toStdString() : std::string();
        };
        BenchSlot slot{cell(0), cell(1)};
        if (slot.name.empty() || slot.port.empty())
            return Refuse(QStringLiteral("Slot %1 needs a name and a port.").arg(row + 1));
        if (!names.insert(slot.name).second) return Refuse(Text("Two slots are called " + slot.name + "."));
        profile.slots.push_back(slot);
    }
    if (profile.slots.empty()) return Refuse(QStringLiteral("Add a slot: a bench needs one at least."));
    if (profile.image.empty()) return Refuse(QStringLiteral("Choose the image the bench sends."));
    // The pin stays unless the image is another: a file swapped since it was pinned must not be taken unsaid.
    if (profile.sha256.empty() || m_imageChosen || profile.image != m_pinnedImage) {
        CImageFile image;
        uint64_t length = 0;
        std::string problem;
        const uint64_t limit = ImageFileLimit(profile.command == KEYPAD_SCREENS ? FILE_SCREENS : FILE_FIRMWARE);
        if (ReadImageFile(profile.image, limit, image, length, problem, [] { return false; }) != FILE_READ_OK)
            return Refuse(Text("The image cannot be read: " + problem + "."));
        if (!profile.sha256.empty() && image.sha256 != profile.sha256 && !PinAnother(profile.sha256, image.sha256))
            return;
        profile.sha256 = image.sha256;
    }
    if (!m_password->text().isEmpty()) SetBenchPassword(profile, m_password->text().toStdString());
    m_profile = profile;
    QDialog::accept();
}

#include "bench_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>
#include <cstdio>

#include "report_window.h"
#include "session/port_discovery.h"
#include "slot_panel.h"

namespace {

constexpr int RECORDS_SHOWN = 200;
constexpr int REPAINT_MS = 200;
constexpr int RATE_CLOCK_MS = 10'000;
constexpr double PANEL_ASPECT = 1.6;    // a panel's width over its height, for its lines and buttons
constexpr int DISPLAY_GONE_EXIT = 129;  // SIGHUP's: the desktop session has ended
const QString NO_PROFILE = QStringLiteral("No profile: File > New profile\u2026 or Open profile\u2026");

std::string RecordLine(const SessionResult& r) {
    const QString when = QDateTime::fromMSecsSinceEpoch(r.startMs).toString(QStringLiteral("HH:mm:ss"));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", r.seconds);
    std::string line = when.toStdString() + "  " + r.unit + "  " + OutcomeName(r.exitCode) + "  " + seconds;
    if (r.exitCode != EXIT_OK && !r.lastText.empty()) line += "  " + r.lastText;
    return line;
}

}  // namespace

CBenchWindow::CBenchWindow() {
    setWindowTitle(QStringLiteral("ORBIX Bench"));
    setAcceptDrops(true);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    MakeTotals(central, layout);

    m_scroll = new QScrollArea(central);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->installEventFilter(this);
    m_records = new QListWidget(central);
    m_records->setAccessibleName(QStringLiteral("Last records"));
    m_records->setMinimumHeight(3 * fontMetrics().lineSpacing());
    auto* splitter = new QSplitter(Qt::Vertical, central);
    splitter->addWidget(m_scroll);
    splitter->addWidget(m_records);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({1000, 6 * fontMetrics().lineSpacing()});
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    MakeMenus();
    MakeStatusBar();
    m_repaint.setInterval(REPAINT_MS);
    connect(&m_repaint, &QTimer::timeout, this, [this] { RefreshPanels(); });
    m_rateClock.setInterval(RATE_CLOCK_MS);
    connect(&m_rateClock, &QTimer::timeout, this, [this] { RefreshTotals(); });
    BuildSlots();
    ApplyLock();
}

// While slots run, their bars and times are taken here, at this pace.
void CBenchWindow::RefreshPanels() {
    for (size_t i = 0; i < m_panels.size(); ++i)
        if (m_slots[i]->TakeFigures()) m_panels[i]->Refresh();
    if (!AnyRunning()) m_repaint.stop();
}

CBenchWindow::~CBenchWindow() {
    // The panels point at the slots: they go first.
    delete m_grid;
    m_grid = nullptr;
}

void CBenchWindow::MakeTotals(QWidget* parent, QVBoxLayout* layout) {
    m_imageLabel = new QLabel(NO_PROFILE, parent);
    m_imageLabel->setTextFormat(Qt::PlainText);
    m_totalsLabel = new QLabel(parent);
    m_totalsLabel->setTextFormat(Qt::PlainText);
    QFont large = m_totalsLabel->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.2);
    m_totalsLabel->setFont(large);
    m_refusalLabel = new QLabel(parent);
    m_refusalLabel->setTextFormat(Qt::PlainText);
    m_refusalLabel->setWordWrap(true);
    m_refusalLabel->setStyleSheet(QStringLiteral("QLabel { color: #a00000; font-weight: bold; }"));
    m_refusalLabel->hide();
    auto* row = new QHBoxLayout;
    row->addWidget(m_imageLabel, 1);
    row->addWidget(m_totalsLabel);
    layout->addLayout(row);
    layout->addWidget(m_refusalLabel);
    m_databaseLabel = new QLabel(parent);
    m_databaseLabel->setTextFormat(Qt::PlainText);
    m_databaseLabel->setStyleSheet(QStringLiteral("QLabel { color: #805000; font-weight: bold; }"));
    m_databaseLabel->hide();
    layout->addWidget(m_databaseLabel);
    m_database = std::make_unique<CBenchDatabase>(m_databaseLabel);
}

void CBenchWindow::MakeMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_new = file->addAction(QStringLiteral("&New profile\u2026"), this, [this] { NewProfile(); });
    m_new->setShortcut(QKeySequence::New);
    m_open = file->addAction(QStringLiteral("&Open profile\u2026"), this, [this] { OpenProfileChosen(); });
    m_open->setShortcut(QKeySequence::Open);
    m_edit = file->addAction(QStringLiteral("&Edit profile\u2026"), this, [this] { EditProfile(); });
    m_edit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_saveAs = file->addAction(QStringLiteral("Save profile &as\u2026"), this, [this] { SaveProfileAs(); });
    m_saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    file->addSeparator();
    QAction* report = file->addAction(QStringLiteral("&Report\u2026"), this, [this] { ShowReport(); });
    report->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"), this, [this] { close(); });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* bench = menuBar()->addMenu(QStringLiteral("&Bench"));
    m_startAll = bench->addAction(QStringLiteral("&Start all"), this, [this] { StartAll(); });
    m_startAll->setShortcut(QKeySequence(Qt::Key_F5));
    m_stopAll = bench->addAction(QStringLiteral("S&top all"), this, [this] { StopAll(); });
    m_stopAll->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    bench->addSeparator();
    m_lock = bench->addAction(QStringLiteral("&Lock"), this, [this] { ToggleLock(); });
    m_lock->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QAction* who = bench->addAction(QStringLiteral("Change &operator\u2026"), this, [this] { AskOperator({}); });
    who->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
}

QWidget* CBenchWindow::SlotArea() const { return m_scroll; }

bool CBenchWindow::OpenProfile(const std::string& path) {
    BenchProfile profile;
    std::string error;
    if (!LoadBenchProfile(path, profile, error)) {
        Warn(error);  // in orbix-flash's words: it names the profile and the line
        return false;
    }
    return UseProfile(profile, path);
}

bool CBenchWindow::UseProfile(const BenchProfile& profile, const std::string& path) {
    if (AnyRunning()) {
        Warn("Stop every slot before opening another profile.");
        return false;
    }
    m_profile = profile;
    m_profilePath = path;
    m_sinceStart.invalidate();
    m_rateClock.stop();
    m_rate.Clear();
    m_unitsCounted = 0;
    m_records->clear();
    setWindowTitle(QStringLiteral("ORBIX Bench \u2014 ") +
                   (path.empty() ? QStringLiteral("new profile") : QFileInfo(QString::fromStdString(path)).fileName()));
    Prepare();
    BuildSlots();
    ApplyLock();
    ShowOperator();
    if (!m_refusal.empty()) Warn(m_refusal);
    return true;
}

bool CBenchWindow::Prepare() {
    m_refusal.clear();
    // The old run's views go before it, and the panels pointing at them first.
    delete m_grid;
    m_grid = nullptr;
    m_panels.clear();
    m_slots.clear();
    SessionRequest request;
    request.quiet = true;
    RunPlan plan;
    plan.logFile = m_logOverride;  // --log's name is the shell's; the profile's is from its folder
    ApplyBenchProfile(m_profilePath, m_profile, request, plan);
    plan.program = "orbix-bench";
    plan.operatorName = m_operator;
    plan.serials.askAgain = true;  // a serial updated before: the operator answers on its panel
    std::string error;
    ReadRetryDelay(plan, error);  // a bad figure leaves the default
    m_policy.Forget();
    m_policy.ask = [this](const std::string& question) {
        return QMessageBox::question(this, QStringLiteral("ORBIX Bench"), QString::fromStdString(question),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    m_run = std::make_unique<CKeypadRun>(request, plan, m_policy);
    m_run->onStationEnded = [this](size_t i) {
        if (i < m_slots.size()) m_slots[i]->StationEnded();
    };
    // The same set-up, and the same words, as orbix-flash --profile.
    if (m_profile.image.empty())
        m_refusal = "The profile names no image.";
    else if (m_run->SetUpStations(error) != EXIT_OK || !m_database->Start(plan.database, plan.logFile, *m_run, error))
        m_refusal = error;
    if (!m_refusal.empty()) m_database->Stop();
    const QString name = QFileInfo(QString::fromStdString(m_profile.image)).fileName();
    m_imageLabel->setText(m_profile.image.empty()
                              ? NO_PROFILE
                              : QStringLiteral("%1 %2   sha256 %3")
                                    .arg(QString::fromLatin1(KeypadCommandWord(m_profile.command)), name,
                                         QString::fromStdString(m_profile.sha256.substr(0, 12))));
    m_refusalLabel->setText(QString::fromStdString(m_refusal));
    m_refusalLabel->setVisible(!m_refusal.empty());
    return m_refusal.empty();
}

void CBenchWindow::BuildSlots() {
    delete m_grid;
    m_panels.clear();
    m_slots.clear();
    m_grid = new QWidget;
    m_gridLayout = new QGridLayout(m_grid);
    m_gridLayout->setSpacing(4);
    m_gridLayout->setContentsMargins(0, 0, 0, 0);
    for (size_t i = 0; i < m_profile.slots.size(); ++i) {
        auto slot = std::make_unique<CBenchSlot>(m_profile.slots[i], static_cast<int>(i + 1), *m_run, i,
                                                 m_profile.startByOperator, m_profile.command,
                                                 m_run->Serials() ? m_profile.serial : SERIAL_OFF);
        slot->onChanged = [this, i] { SlotChanged(i); };
        slot->onUnit = [this](const SessionResult& result) { ShowUnit(result); };
        slot->onEnded = [this] { SlotEnded(); };
        auto* panel = new CSlotPanel(*slot, m_grid);
        panel->sound = m_profile.sound;
        panel->onStart = [this, i] {
            if (!ReadyToStart([this, i] { m_panels[i]->onStart(); })) return;
            StartClock();
            m_slots[i]->Start();
        };
        panel->onStop = [this, i] { StopSlot(i); };
        m_slots.push_back(std::move(slot));
        m_panels.push_back(panel);
    }
    m_columns = 0;
    m_scroll->setWidget(m_grid);
    LayOutPanels(true);
    // A keypad the last run left half-written (killed, a power cut) is said where it sits.
    if (m_run && m_refusal.empty()) {
        const std::set<std::string> cutOff = m_run->CutOffInLog();
        for (size_t i = 0; i < m_slots.size() && i < m_run->Stations().size(); ++i)
            if (cutOff.count(DeviceIdentity(m_run->Stations()[i].port))) m_slots[i]->ShowCutOff();
    }
    RefreshTotals();
}

// As many columns as fit the width; the rows scroll when they do not fit the height.
void CBenchWindow::LayOutPanels(bool always) {
    if (m_panels.empty()) return;
    // The columns that give each panel the most room at a panel's shape; every slot in view.
    const QSize room = m_scroll->viewport()->size();
    const int count = static_cast<int>(m_panels.size());
    int columns = 1;
    double best = -1;
    for (int c = 1; c <= count; ++c) {
        const int rows = (count + c - 1) / c;
        const double readable = std::min(room.width() / (c * PANEL_ASPECT), room.height() / double(rows));
        if (readable > best + 0.5) {
            best = readable;
            columns = c;
        }
    }
    const int rows = (count + columns - 1) / columns;
    if (columns != m_columns || always) {
        m_columns = columns;
        for (CSlotPanel* panel : m_panels) m_gridLayout->removeWidget(panel);
        for (int i = 0; i < count; ++i) m_gridLayout->addWidget(m_panels[i], i / columns, i % columns);
        for (int r = 0; r < m_gridLayout->rowCount(); ++r) m_gridLayout->setRowStretch(r, r < rows ? 1 : 0);
        for (int c = 0; c < m_gridLayout->columnCount(); ++c) m_gridLayout->setColumnStretch(c, c < columns ? 1 : 0);
    }
    // The last records give way when the slots need their room (each its least and three lines
    // for what it says); they come back when there is some.
    const int panel = m_panels[0]->minimumSizeHint().height() + 3 * fontMetrics().lineSpacing();
    const int needed = rows * panel + (rows - 1) * m_gridLayout->spacing();
    if (m_records->isVisible() && needed > room.height())
        m_records->hide();
    else if (!m_records->isVisible() && needed + 4 * fontMetrics().lineSpacing() < room.height())
        m_records->show();
}

bool CBenchWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize) LayOutPanels(false);
    return QMainWindow::eventFilter(watched, event);
}

void CBenchWindow::ShowUnit(const SessionResult& result) {
    if (!result.logNote.empty()) Note(result.logNote);
    auto* item = new QListWidgetItem(QString::fromStdString(RecordLine(result)));
    if (result.exitCode != EXIT_OK) item->setForeground(QColor(0xa0, 0, 0));
    m_records->insertItem(0, item);
    while (m_records->count() > RECORDS_SHOWN) delete m_records->takeItem(m_records->count() - 1);
    RefreshTotals();
}

// Said once, on stderr and at the top of the last records, without stopping anyone.
void CBenchWindow::Note(const std::string& text) {
    std::fprintf(stderr, "orbix-bench: %s\n", text.c_str());
    auto* item = new QListWidgetItem(QString::fromStdString(text));
    item->setForeground(QColor(0x80, 0x50, 0));
    m_records->insertItem(0, item);
}

int CBenchWindow::OkCount() const { return m_run ? static_cast<int>(m_run->Tally().Totals().ok) : 0; }
int CBenchWindow::FailedCount() const { return m_run ? static_cast<int>(m_run->Tally().Totals().failed) : 0; }

// By units: a keypad tried again and then updated is one ok unit.
void CBenchWindow::ShowReport() {
    const std::string log = m_run ? m_run->LogFile() : "";
    if (log.empty()) return Warn("The profile keeps no records log: there is nothing to report.");
    auto* report = new CReportWindow(log, this);
    report->setAttribute(Qt::WA_DeleteOnClose);
    if (report->Reload())
        report->show();
    else
        report->deleteLater();
}

void CBenchWindow::StartClock() {
    if (m_sinceStart.isValid()) return;
    m_sinceStart.start();
    m_rateClock.start();
}

void CBenchWindow::RefreshTotals() {
    const int ok = OkCount(), failed = FailedCount(), units = ok + failed;
    QString yield = units ? QString::number(100.0 * ok / units, 'f', 1) + QLatin1Char('%') : QStringLiteral("\u2014");
    QString perHour = QStringLiteral("\u2014");
    if (m_sinceStart.isValid()) {
        for (; m_unitsCounted < units; ++m_unitsCounted) m_rate.Ended(m_sinceStart.elapsed());
        const double rate = m_rate.PerHour(m_sinceStart.elapsed());
        if (rate >= 0) perHour = QString::number(qRound(rate));
    }
    m_totalsLabel->setText(
        QStringLiteral("ok %1   failed %2   yield %3   units per hour %4").arg(ok).arg(failed).arg(yield, perHour));
}

// A change of state, a few a unit, is drawn at once, so a panel never lags the totals; the bars
// and times follow at the timer's pace.
void CBenchWindow::SlotChanged(size_t i) {
    if (i < m_panels.size()) m_panels[i]->Refresh();
    if (!m_repaint.isActive()) m_repaint.start();
    // The update the question was about has ended: nothing is left to stop.
    if (m_question && (m_questionSlot == static_cast<int>(i) || m_questionSlot < 0) &&
        !(m_questionSlot < 0 ? AnyErased() : m_slots[i]->HasErased()))
        m_question->done(QMessageBox::No);
}

void CBenchWindow::SlotEnded() {
    RefreshTotals();  // a unit stopped in its back-off counts by its last attempt
    if (AnyRunning()) return;
    if (m_quitCode >= 0)
        QApplication::exit(m_quitCode);
    else if (m_closing)
        close();
}

bool CBenchWindow::AnyRunning() const {
    return std::any_of(m_slots.begin(), m_slots.end(), [](const auto& slot) { return slot->IsRunning(); });
}

bool CBenchWindow::AnyErased() const {
    return std::any_of(m_slots.begin(), m_slots.end(), [](const auto& slot) { return slot->HasErased(); });
}

void CBenchWindow::StartAll() {
    if (!ReadyToStart([this] { StartAll(); })) return;
    StartClock();
    for (auto& slot : m_slots)
        if (!slot->IsRunning() || slot->AwaitsStart()) slot->Start();
}

// Asks without blocking: the question goes when its update ends first.
void CBenchWindow::AskToStop(int slot, const std::string& question) {
    if (m_question) return;
    m_question = new QMessageBox(QMessageBox::Question, QStringLiteral("ORBIX Bench"), QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No, this);
    m_question->setDefaultButton(QMessageBox::No);
    m_question->setAttribute(Qt::WA_DeleteOnClose);
    m_questionSlot = slot;
    connect(m_question, &QMessageBox::finished, this, [this](int answer) {
        const int which = m_questionSlot;
        m_question = nullptr;
        m_questionSlot = -1;
        if (answer != QMessageBox::Yes) return;
        if (which < 0)
            StopAll(false);
        else
            m_slots[which]->Stop();
    });
    m_question->open();
}

void CBenchWindow::StopSlot(size_t i) {
    if (m_slots[i]->HasErased())
        AskToStop(static_cast<int>(i),
                  "Stop the update in " + m_slots[i]->Name() + "? " + WillHoldNoValidText(m_profile.command));
    else
        m_slots[i]->Stop();
}

void CBenchWindow::StopAll(bool ask) {
    if (ask && AnyErased()) {
        AskToStop(-1, "Stop every slot? " + WillHoldNoValidText(m_profile.command, true));
        return;
    }
    for (auto& slot : m_slots) slot->Stop();
}

void CBenchWindow::Quit(int exitCode) {
    m_quitCode = exitCode;
    if (m_question) m_question->done(QMessageBox::No);
    for (auto& slot : m_slots) slot->Stop(exitCode);
    SlotEnded();
}

int CBenchWindow::EndNow() {
    const int exitCode = m_quitCode >= 0 ? m_quitCode : DISPLAY_GONE_EXIT;
    for (auto& slot : m_slots) slot->Stop(exitCode);
    for (size_t i = 0; i < m_slots.size(); ++i) m_run->EndStation(i);
    return exitCode;
}

void CBenchWindow::closeEvent(QCloseEvent* event) {
    if (!AnyRunning()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_closing) return;
    if (std::any_of(m_slots.begin(), m_slots.end(), [](const auto& slot) { return slot->IsUpdating(); })) {
        const auto answer =
            QMessageBox::question(this, QStringLiteral("ORBIX Bench"),
                                  QString::fromStdString("Keypads are being updated. Stop every slot and close? " +
                                                         WillHoldNoValidText(m_profile.command, true)),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
    }
    m_closing = true;
    StopAll(false);
}

void CBenchWindow::Warn(const std::string& text) {
    std::fprintf(stderr, "orbix-bench: %s\n", text.c_str());
    if (warn)
        warn(text);
    else
        QMessageBox::warning(this, QStringLiteral("ORBIX Bench"), QString::fromStdString(text));
}

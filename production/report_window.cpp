#include "report_window.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "session/shift_report.h"

CBarChart::CBarChart(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void CBarChart::SetBars(std::vector<std::pair<QString, int>> bars) {
    m_bars = std::move(bars);
    updateGeometry();
    update();
}

QSize CBarChart::sizeHint() const {
    const int line = fontMetrics().lineSpacing();
    return {40 * fontMetrics().averageCharWidth(), line * (2 + static_cast<int>(std::max<size_t>(m_bars.size(), 1)))};
}

void CBarChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.lineSpacing();  // a bar is one line of text high
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(0, metrics.ascent(), m_title);
    painter.setFont(font());
    if (m_bars.empty()) {
        painter.drawText(0, line + metrics.ascent(), QStringLiteral("none"));
        return;
    }
    int labelWidth = 0, highest = 1;
    for (const auto& [label, value] : m_bars) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
        highest = std::max(highest, value);
    }
    labelWidth = std::min(labelWidth + metrics.averageCharWidth(), width() / 3);  // room for rounding
    const int numberWidth = metrics.horizontalAdvance(QString::number(highest)) + metrics.averageCharWidth();
    const int room = std::max(1, width() - labelWidth - numberWidth - 2 * metrics.averageCharWidth());
    int y = line + 2;
    for (const auto& [label, value] : m_bars) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(0, y, labelWidth, line), Qt::AlignRight | Qt::AlignVCenter,
                         metrics.elidedText(label, Qt::ElideMiddle, labelWidth));
        const int x = labelWidth + metrics.averageCharWidth();
        const int length = std::max(value > 0 ? 2 : 0, room * value / highest);
        // Dark blue on white: 8.6:1, readable beside the figure.
        painter.fillRect(QRect(x, y + 2, length, line - 4), QColor(0x1F, 0x4E, 0x8C));
        painter.drawText(QRect(x + length + 4, y, numberWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::number(value));
        y += line;
    }
}

CReportWindow::CReportWindow(const std::string& log, QWidget* parent) : QDialog(parent), m_log(log) {
    setWindowTitle(QStringLiteral("Report: ") + QString::fromStdString(log));
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setWordWrap(true);
    QFont larger = m_summary->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.3);
    larger.setBold(true);
    m_summary->setFont(larger);
    layout->addWidget(m_summary);
    auto* charts = new QHBoxLayout;
    m_perHour = new CBarChart(QStringLiteral("Units per hour"), this);
    m_failuresPerSlot = new CBarChart(QStringLiteral("Failed and incomplete units per slot"), this);
    charts->addWidget(m_perHour);
    charts->addWidget(m_failuresPerSlot);
    layout->addLayout(charts);
    m_tallies = new QTreeWidget(this);
    m_tallies->setAccessibleName(QStringLiteral("Units by station, slot, image and day"));
    m_tallies->setHeaderLabels({QStringLiteral("By"), QStringLiteral("Units"), QStringLiteral("ok"),
                                QStringLiteral("failed"), QStringLiteral("incomplete"), QStringLiteral("yield")});
    m_tallies->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(m_tallies, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* reload = buttons->addButton(QStringLiteral("&Reload"), QDialogButtonBox::ActionRole);
    connect(reload, &QPushButton::clicked, this, &CReportWindow::Reload);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(900, 640);
}

const QString& CReportWindow::Summary() const { return m_summaryText; }

bool CReportWindow::Reload() {
    ShiftReport report;
    std::string error;
    if (!ReadShiftReport({m_log}, report, error)) {
        QMessageBox::warning(this, QStringLiteral("ORBIX Bench"), QString::fromStdString(error));
        return false;
    }
    Show(report);
    return true;
}

void CReportWindow::Show(const ShiftReport& r) {
    m_summaryText = QString::fromStdString(ReportSummaryLine(r));
    m_summary->setText(m_summaryText);
    std::vector<std::pair<QString, int>> hours, failures;
    for (const auto& [hourMs, units] : r.unitsByHour)
        hours.push_back({QDateTime::fromMSecsSinceEpoch(hourMs).toString(QStringLiteral("MM-dd HH:00")), units});
    for (const auto& [slot, t] : r.bySlot) failures.push_back({QString::fromStdString(slot), t.failed + t.incomplete});
    m_perHour->SetBars(std::move(hours));
    m_failuresPerSlot->SetBars(std::move(failures));
    m_tallies->clear();
    for (auto [heading, tallies] :
         {std::pair{"Station", &r.byStation}, {"Slot", &r.bySlot}, {"Image", &r.byImage}, {"Day", &r.byDay}}) {
        auto* group = new QTreeWidgetItem(m_tallies, {QString::fromLatin1(heading)});
        for (const auto& [name, t] : *tallies)
            new QTreeWidgetItem(group, {name.empty() ? QStringLiteral("(unnamed)") : QString::fromStdString(name),
                                        QString::number(t.Units()), QString::number(t.ok), QString::number(t.failed),
                                        QString::number(t.incomplete), QString::asprintf("%.1f %%", t.Yield())});
        group->setExpanded(true);
    }
    auto* reasons = new QTreeWidgetItem(m_tallies, {QStringLiteral("Failure reasons")});
    for (const auto& [text, count] : r.reasons)
        new QTreeWidgetItem(reasons, {QString::fromStdString(text), QString::number(count)});
    reasons->setExpanded(true);
    auto* serials = new QTreeWidgetItem(m_tallies, {QStringLiteral("Serials updated more than once")});
    for (const auto& [serial, count] : r.repeatedSerials)
        new QTreeWidgetItem(serials, {QString::fromStdString(serial), QString::number(count)});
    serials->setExpanded(true);
}

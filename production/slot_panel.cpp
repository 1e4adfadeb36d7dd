#include "slot_panel.h"

#include <QGridLayout>
#include <QPainter>
#include <QPushButton>

#include "bench_slot.h"
#include "desktop/percent_progress_ctrl.h"

namespace {

// Light enough for black text on every one; the word says the same for those who cannot tell them apart.
QColor StateColour(SlotState state) {
    switch (state) {
        case SLOT_WAITING:
            return QColor(0xdd, 0xe8, 0xf6);
        case SLOT_UPDATING:
            return QColor(0xfb, 0xef, 0xc4);
        case SLOT_DONE:
            return QColor(0xcd, 0xee, 0xcd);
        case SLOT_FAILED:
            return QColor(0xf6, 0xc9, 0xc6);
        case SLOT_STOPPED:
            return QColor(0xe4, 0xc4, 0xe8);
        case SLOT_IDLE:
            break;
    }
    return QColor(0xe8, 0xe8, 0xe8);
}

constexpr int HEAD_LINES = 5;  // title, state and counts, three of the state's sentence

}  // namespace

const char* SlotStateWord(int state) {
    static const char* const WORDS[] = {"READY", "WAITING", "UPDATING", "DONE", "FAILED", "STOPPED"};
    return WORDS[state];
}

CPanelText::CPanelText(int lines, QWidget* parent) : QWidget(parent), m_lines(lines) {
    setFixedHeight(lines * fontMetrics().lineSpacing());
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void CPanelText::Set(const QString& title, const QString& left, const QString& right, const QString& body) {
    if (title == m_title && left == m_left && right == m_right && body == m_body) return;
    m_title = title;
    m_left = left;
    m_right = right;
    m_body = body;
    setToolTip(m_lines > 1 ? m_title + QLatin1Char('\n') + m_body : QString());
    update();
}

void CPanelText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int line = fontMetrics().lineSpacing();
    QRect row(0, 0, width(), line);
    QFont bold = font();
    bold.setBold(true);
    int used = 0;
    if (!m_title.isEmpty()) {
        painter.setFont(bold);
        painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(m_title, Qt::ElideMiddle, width()));
        row.translate(0, line);
        ++used;
    }
    if (!m_left.isEmpty() || !m_right.isEmpty()) {
        painter.setFont(font());
        painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, m_right);
        painter.setFont(bold);
        painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, m_left);
        row.translate(0, line);
        ++used;
    }
    painter.setFont(font());
    // Words that would not fit the lines left end in an ellipsis; the tool tip has them whole.
    const QRect rest(0, row.top(), width(), (m_lines - used) * line);
    QString shown = m_body;
    auto fits = [&](const QString& text) {
        return painter.boundingRect(rest, Qt::TextWordWrap, text).height() <= rest.height();
    };
    while (shown.size() > 1 && !fits(shown == m_body ? shown : shown + QChar(0x2026)))
        shown.chop(std::max<qsizetype>(1, shown.size() / 10));
    if (shown != m_body) shown = shown.trimmed() + QChar(0x2026);
    painter.drawText(rest, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, shown);
}

CSlotPanel::CSlotPanel(CBenchSlot& slot, QWidget* parent) : QFrame(parent), m_slot(slot) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setMinimumWidth(200);
    m_head = new CPanelText(HEAD_LINES, this);
    m_bar = new CPercentProgressCtrl(this);
    m_bar->setFixedHeight(fontMetrics().height() + 4);
    m_time = new CPanelText(1, this);
    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    const QString name = QString::fromStdString(slot.Name());
    m_start->setAccessibleName(QStringLiteral("Start ") + name);
    m_stop->setAccessibleName(QStringLiteral("Stop ") + name);
    connect(m_start, &QPushButton::clicked, this, [this] {
        if (onStart) onStart();
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (onStop) onStop();
    });

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    grid->addWidget(m_head, 0, 0, 1, 2);
    grid->addWidget(m_bar, 1, 0, 1, 2);
    grid->addWidget(m_time, 2, 0, 1, 2);
    grid->addWidget(m_start, 3, 0);
    grid->addWidget(m_stop, 3, 1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Refresh();
}

void CSlotPanel::Refresh() {
    const bool awaitsStart = m_slot.AwaitsStart();
    const QString text = QString::fromStdString(m_slot.StateText());
    m_head->Set(QString::fromStdString(m_slot.Name() + " \u2014 " + m_slot.Port()),
                QString::fromLatin1(SlotStateWord(m_slot.State())) +
                    (awaitsStart ? QStringLiteral(": press Start") : QString()),
                QStringLiteral("ok %1 \u00b7 failed %2").arg(m_slot.Ok()).arg(m_slot.Failed()), text);
    if (m_shownState != m_slot.State()) {
        m_shownState = m_slot.State();
        QPalette shades = palette();
        shades.setColor(QPalette::Window, StateColour(m_slot.State()));
        setPalette(shades);
    }
    if (accessibleDescription() != text) setAccessibleDescription(text);
    PBRANGE range;
    m_bar->GetRange(true, &range);
    if (range.iLow != m_slot.BarLower() || range.iHigh != m_slot.BarUpper())
        m_bar->SetRange32(m_slot.BarLower(), m_slot.BarUpper());
    m_bar->SetPos(m_slot.BarPosition());
    m_time->Set({}, {}, {}, QString::fromStdString(m_slot.TimeText()));
    m_start->setEnabled(!m_slot.IsRunning() || awaitsStart);
    m_stop->setEnabled(m_slot.IsRunning());
}

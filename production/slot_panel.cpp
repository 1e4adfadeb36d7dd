#include "slot_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "bench_slot.h"
#include "ui/percent_progress_ctrl.h"

namespace {

// Light enough for black text on every one; the word says the same for those who cannot tell them apart.
QColor StateColour(SlotState state) {
    switch (state) {
    case SLOT_WAITING: return QColor(0xdd, 0xe8, 0xf6);
    case SLOT_UPDATING: return QColor(0xfb, 0xef, 0xc4);
    case SLOT_DONE: return QColor(0xcd, 0xee, 0xcd);
    case SLOT_FAILED: return QColor(0xf6, 0xc9, 0xc6);
    case SLOT_STOPPED: return QColor(0xe4, 0xc4, 0xe8);
    case SLOT_IDLE: break;
    }
    return QColor(0xe8, 0xe8, 0xe8);
}

}  // namespace

const char* SlotStateWord(int state) {
    static const char* const WORDS[] = {"READY", "WAITING", "UPDATING", "DONE", "FAILED", "STOPPED"};
    return WORDS[state];
}

CSlotPanel::CSlotPanel(CBenchSlot& slot, QWidget* parent) : QFrame(parent), m_slot(slot) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setMinimumWidth(200);
    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    m_word = new QLabel(this);
    QFont bold = m_word->font();
    bold.setBold(true);
    m_word->setFont(bold);
    m_title->setFont(bold);
    m_text = new QLabel(this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Two lines always, so the panels of a row keep their height whatever they say.
    m_text->setMinimumHeight(2 * fontMetrics().lineSpacing());
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_bar = new CPercentProgressCtrl(this);
    m_bar->setMinimumHeight(fontMetrics().height() + 4);
    m_time = new QLabel(this);
    m_counts = new QLabel(this);
    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    const QString name = QString::fromStdString(slot.Name());
    m_start->setAccessibleName(QStringLiteral("Start ") + name);
    m_stop->setAccessibleName(QStringLiteral("Stop ") + name);
    connect(m_start, &QPushButton::clicked, this, [this] { if (onStart) onStart(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { if (onStop) onStop(); });

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    grid->addWidget(m_title, 0, 0, 1, 2);
    grid->addWidget(m_word, 1, 0);
    grid->addWidget(m_counts, 1, 1, Qt::AlignRight);
    grid->addWidget(m_text, 2, 0, 1, 2);
    grid->addWidget(m_bar, 3, 0, 1, 2);
    grid->addWidget(m_time, 4, 0, 1, 2);
    grid->addWidget(m_start, 5, 0);
    grid->addWidget(m_stop, 5, 1);
    grid->setRowStretch(2, 1);  // a row's taller neighbour leaves the room below the state's words
    ShowTitle();
    Refresh();
}

void CSlotPanel::ShowTitle() {
    const QString title = QString::fromStdString(m_slot.Name() + " \u2014 " + m_slot.Port());
    const int room = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    m_title->setText(m_title->fontMetrics().elidedText(title, Qt::ElideMiddle, std::max(room, 50)));
    m_title->setToolTip(title);
}

void CSlotPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    ShowTitle();
}

void CSlotPanel::Refresh() {
    if (m_shownState != m_slot.State()) {
        m_shownState = m_slot.State();
        QPalette shades = palette();
        shades.setColor(QPalette::Window, StateColour(m_slot.State()));
        setPalette(shades);
    }
    const bool awaitsStart = m_slot.AwaitsStart();
    m_word->setText(QString::fromLatin1(SlotStateWord(m_slot.State())) +
                    (awaitsStart ? QStringLiteral(": press Start") : QString()));
    m_text->setText(QString::fromStdString(m_slot.StateText()));
    m_text->setToolTip(m_text->text());
    PBRANGE range;
    m_bar->GetRange(true, &range);
    if (range.iLow != m_slot.BarLower() || range.iHigh != m_slot.BarUpper())
        m_bar->SetRange32(m_slot.BarLower(), m_slot.BarUpper());
    m_bar->SetPos(m_slot.BarPosition());
    m_time->setText(QString::fromStdString(m_slot.TimeText()));
    m_counts->setText(QStringLiteral("ok %1 \u00b7 failed %2").arg(m_slot.Ok()).arg(m_slot.Failed()));
    m_start->setEnabled(!m_slot.IsRunning() || awaitsStart);
    m_stop->setEnabled(m_slot.IsRunning());
}

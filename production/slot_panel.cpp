#include "slot_panel.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTextOption>
#include <climits>

#include "bench_slot.h"
#include "desktop/percent_progress_ctrl.h"

namespace {

// Each state's colours: black on a light shade, but a failure in white on a red that cannot be
// missed (6.6:1). The word and its symbol say the same for those who cannot tell colours apart.
struct StateLook {
    QColor back;
    QColor text;
    const char* symbol;
};

StateLook Look(SlotState state) {
    switch (state) {
        case SLOT_WAITING:
            return {QColor(0xdd, 0xe8, 0xf6), Qt::black, "\u25D4"};
        case SLOT_UPDATING:
            return {QColor(0xfb, 0xef, 0xc4), Qt::black, "\u25B6"};
        case SLOT_DONE:
            return {QColor(0xcd, 0xee, 0xcd), Qt::black, "\u2714"};
        case SLOT_FAILED:
            return {QColor(0xb3, 0x26, 0x1e), Qt::white, "\u2716"};
        case SLOT_STOPPED:
            return {QColor(0xe4, 0xc4, 0xe8), Qt::black, "\u25A0"};
        case SLOT_LABEL:
            return {QColor(0xc8, 0xee, 0xf2), Qt::black, "\u25A5"};
        case SLOT_IDLE:
            break;
    }
    return {QColor(0xe8, 0xe8, 0xe8), Qt::black, "\u25CB"};
}

// The bar in a dark blue on white: the percentage over it and beside it reads at 8.6:1.
constexpr COLORREF BAR_BLUE = 0x8C4E1F;  // 0x00BBGGRR
constexpr COLORREF BAR_BACK = 0xFFFFFF;

// Sizes over the body text's: the state word from its largest to the three times that reads from
// two metres, the body from twice to its own size, then both smaller on a crowded bench.
constexpr double STATE_LARGEST = 6.0, STATE_READABLE = 3.0, STATE_SMALLEST = 1.25;
constexpr double BODY_LARGEST = 2.0, BODY_SMALLEST = 0.7;
constexpr int PORT_SHOWN = 24;  // characters of a port's name in a reason (its end the most), the rest in the tool tip

QFont Scaled(const QFont& base, double scale, bool bold) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * scale);
    font.setBold(bold);
    return font;
}

QTextOption Wrapping() {
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);  // a long path breaks too
    return option;
}

// A port's name as a panel shows it: the start and the end (where a by-id name tells adapters apart).
QString ShortPortName(const QString& port, int most) {
    if (port.size() <= most) return port;
    const int head = most / 3, tail = most - head - 1;
    return port.left(head) + QChar(0x2026) + port.right(tail);
}

}  // namespace

const char* SlotStateWord(int state) {
    static const char* const WORDS[] = {"READY", "WAITING", "UPDATING", "DONE", "FAILED", "STOPPED", "SCAN"};
    return WORDS[state];
}

CSlotFace::CSlotFace(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    setMinimumHeight(3 * fontMetrics().lineSpacing());
}

void CSlotFace::Set(const QString& name, const QString& port, const QString& state, const QString& body) {
    if (name == m_name && port == m_port && state == m_state && body == m_body) return;
    m_name = name;
    m_port = port;
    m_state = state;
    m_body = body;
    update();
}

int CSlotFace::Height(const QFont& state, const QFont& body) const {
    if (QFontMetrics(state).horizontalAdvance(m_state) > width()) return INT_MAX;  // the word whole, or smaller
    const int stateLine = std::max(QFontMetrics(state).lineSpacing(), fontMetrics().lineSpacing());
    QPainter measure(const_cast<CSlotFace*>(this));
    measure.setFont(body);
    const QRectF text = measure.boundingRect(QRectF(0, 0, width(), INT_MAX), m_body, Wrapping());
    return fontMetrics().lineSpacing() + stateLine + static_cast<int>(std::ceil(text.height()));
}

void CSlotFace::paintEvent(QPaintEvent*) {
    // The largest state word that leaves the body whole, then the largest body; measured again
    // only when the size or the body changes, not at every repaint of an update.
    if (m_fittedSize != size() || m_fittedBody != m_body) {
        double stateScale = STATE_LARGEST, bodyScale = BODY_LARGEST;
        auto fits = [&] {
            return Height(Scaled(font(), stateScale, true), Scaled(font(), bodyScale, false)) <= height();
        };
        // A large panel reads from further away; a small one gives up size in this order.
        while (!fits() && stateScale > STATE_READABLE) stateScale -= 0.25;
        while (!fits() && bodyScale > 1) bodyScale -= 0.125;
        while (!fits() && stateScale > STATE_SMALLEST) stateScale -= 0.25;
        while (!fits() && bodyScale > BODY_SMALLEST) bodyScale -= 0.05;
        m_stateScale = stateScale;
        m_bodyScale = bodyScale;
        m_bodyWhole = fits();
        m_fittedSize = size();
        m_fittedBody = m_body;
    }
    const double stateScale = m_stateScale, bodyScale = m_bodyScale;

    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int line = fontMetrics().lineSpacing();
    // The name whole where it can be, the port shortened in the middle to the room left: its end
    // (what tells adapters apart) stays, the whole is in the tool tip.
    painter.setFont(Scaled(font(), 1.0, true));
    const QString name = m_name + QStringLiteral(" \u2014 ");
    const int portLeast = 6 * painter.fontMetrics().averageCharWidth();
    const int nameWidth = std::max(0, std::min(painter.fontMetrics().horizontalAdvance(name), width() - portLeast));
    painter.drawText(QRect(0, 0, nameWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(name, Qt::ElideRight, nameWidth));
    painter.drawText(QRect(nameWidth, 0, width() - nameWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(m_port, Qt::ElideMiddle, width() - nameWidth));
    const QFont stateFont = Scaled(font(), stateScale, true);
    const int stateLine = std::max(QFontMetrics(stateFont).lineSpacing(), line);
    painter.setFont(stateFont);
    painter.drawText(QRect(0, line, width(), stateLine), Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(m_state, Qt::ElideRight, width()));
    painter.setFont(Scaled(font(), bodyScale, false));
    painter.drawText(QRectF(0, line + stateLine, width(), height() - line - stateLine), m_body, Wrapping());
}

CSlotPanel::CSlotPanel(CBenchSlot& slot, QWidget* parent) : QFrame(parent), m_slot(slot) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_face = new CSlotFace(this);
    m_bar = new CPercentProgressCtrl(this);
    m_bar->setFixedHeight(fontMetrics().height() + 4);
    m_bar->SetBarColor(BAR_BLUE);
    m_bar->SetBkColor(BAR_BACK);
    m_time = new QLabel(this);
    m_time->setTextFormat(Qt::PlainText);
    m_counts = new QLabel(this);
    m_counts->setTextFormat(Qt::PlainText);
    m_counts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
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
    // The question about a serial updated before, answered where it is asked.
    m_again = new QPushButton(QStringLiteral("Update again"), this);
    m_notAgain = new QPushButton(QStringLiteral("Not again"), this);
    m_again->setAccessibleName(QStringLiteral("Update the keypad in ") + name + QStringLiteral(" again"));
    m_notAgain->setAccessibleName(QStringLiteral("Do not update the keypad in ") + name + QStringLiteral(" again"));
    connect(m_again, &QPushButton::clicked, this, [this] { m_slot.Answer(true); });
    connect(m_notAgain, &QPushButton::clicked, this, [this] { m_slot.Answer(false); });

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    grid->addWidget(m_face, 0, 0, 1, 2);
    grid->addWidget(m_bar, 1, 0, 1, 2);
    auto* figures = new QHBoxLayout;
    figures->addWidget(m_time, 1);
    figures->addWidget(m_counts);
    grid->addLayout(figures, 2, 0, 1, 2);
    grid->addWidget(m_again, 3, 0);
    grid->addWidget(m_notAgain, 3, 1);
    grid->addWidget(m_start, 4, 0);
    grid->addWidget(m_stop, 4, 1);
    grid->setRowStretch(0, 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    Refresh();
}

void CSlotPanel::Refresh() {
    const bool awaitsStart = m_slot.AwaitsStart();
    const QString port = QString::fromStdString(m_slot.Port());
    const QString name = QString::fromStdString(m_slot.Name());
    const QString text = QString::fromStdString(m_slot.StateText());
    const StateLook look = Look(m_slot.State());
    // The panel's title names the slot: its reason goes without the name in front.
    QString body = text.startsWith(name + QStringLiteral(": ")) ? text.mid(name.size() + 2) : text;
    if (!body.isEmpty()) body[0] = body[0].toUpper();
    body.replace(port, ShortPortName(port, PORT_SHOWN));
    if (awaitsStart) body += QStringLiteral(" Press Start.");
    if (m_slot.AwaitsLabel() && m_slot.State() == SLOT_FAILED) body += QStringLiteral(" Then scan the next label.");
    // The serial beside the slot's name, while its unit runs and after.
    const QString serial = QString::fromStdString(m_slot.Serial());
    m_face->Set(serial.isEmpty() ? name : name + QStringLiteral(" \u2014 ") + serial, port,
                QString::fromUtf8(look.symbol) + QLatin1Char(' ') + QString::fromLatin1(SlotStateWord(m_slot.State())),
                body);
    const QString counts = QStringLiteral("ok %1 \u00b7 failed %2").arg(m_slot.Ok()).arg(m_slot.Failed());
    if (m_counts->text() != counts) m_counts->setText(counts);
    const QString detail = name + QStringLiteral(" \u2014 ") + port + QLatin1Char('\n') + text;
    if (toolTip() != detail) setToolTip(detail);
    if (m_shownState != m_slot.State()) {
        if (sound && m_shownState != -1 && (m_slot.State() == SLOT_DONE || m_slot.State() == SLOT_FAILED))
            QApplication::beep();
        m_shownState = m_slot.State();
        QPalette shades = palette();
        shades.setColor(QPalette::Window, look.back);
        shades.setColor(QPalette::WindowText, look.text);
        setPalette(shades);
    }
    if (accessibleDescription() != text) setAccessibleDescription(text);
    // The bar only while it moves: a slot done, failed or stopped gives its room to what it says.
    const bool updating = m_slot.State() == SLOT_UPDATING;
    if (m_bar->isHidden() == updating) m_bar->setVisible(updating);
    PBRANGE range;
    m_bar->GetRange(true, &range);
    if (range.iLow != m_slot.BarLower() || range.iHigh != m_slot.BarUpper())
        m_bar->SetRange32(m_slot.BarLower(), m_slot.BarUpper());
    m_bar->SetPos(m_slot.BarPosition());
    const QString time = QString::fromStdString(m_slot.TimeText());
    if (m_time->text() != time) m_time->setText(time);
    if (m_again->isHidden() == m_slot.Asks()) {
        m_again->setVisible(m_slot.Asks());
        m_notAgain->setVisible(m_slot.Asks());
    }
    m_start->setEnabled(!m_slot.IsRunning() || awaitsStart);
    m_stop->setEnabled(m_slot.IsRunning());
}

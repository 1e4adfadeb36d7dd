#include "help_dialog.h"

#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "dialog_units.h"

// Lines 1, 4, 5, 6 and 7 end in a blank on purpose.
const char* const HELP_TEXT =
    "The ORBIX Loader allows users to install updated \r\n"
    "Firmware or Screens into an ORBIX.\r\n"
    "\r\n"
    "Note that the keypad must be in the Kestrel mode \r\n"
    "for these operations to be performed. This can be done \r\n"
    "by navigating to the \"Firmware Update\" screen or by \r\n"
    "pressing and holding the top left corner of the display \r\n"
    "on power up.";

namespace {

// The width the box needs so its longest line shows whole, in the font the box shows it in: the
// lines, the document's margins, the frame, and a vertical scroll bar should the lines not fit
// in `height`.
int WidthForText(const QPlainTextEdit& box, const QString& text, int height) {
    const QFontMetricsF metrics(box.font());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    qreal widest = 0;
    for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
    const qreal margin = box.document()->documentMargin();
    const int frame = 2 * box.frameWidth();
    int width = static_cast<int>(std::ceil(widest + 2 * margin)) + 1 + frame;  // one for the caret
    if (lines.size() * metrics.lineSpacing() + 2 * margin > height - frame)
        width += box.verticalScrollBar()->sizeHint().width();
    return width;
}

}  // namespace

CHelpDialog::CHelpDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ORBIX Loader Help"));
    const CDialogUnits du(font());

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("helpText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QString text = QString::fromLatin1(HELP_TEXT);
    m_text->setPlainText(text);
    // The layout's width is a minimum: with a wider font the box grows rather than hiding the
    // line ends behind a scroll bar, and the Close button keeps its distance to the right.
    QRect box = du.Rect(7, 7, 184, 147);
    box.setWidth(std::max(box.width(), WidthForText(*m_text, text, box.height())));
    m_text->setGeometry(box);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setGeometry(box.right() + 1 + du.X(10), du.Y(7), du.X(50), du.Y(14));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(close->geometry().right() + 1 + du.X(7), du.Y(182));

    setTabOrder(close, m_text);
    close->setFocus();
}

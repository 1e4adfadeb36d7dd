#include "dialog_units.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    // The average over the 52 letters, rounded, rather than the font's own average width, which
    // digits and punctuation pull down.
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

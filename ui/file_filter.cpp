#include "file_filter.h"

#include <QStringList>

QString QtNameFilters(const char* filter) {
    const QStringList fields = QString::fromUtf8(filter ? filter : "").split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        QString name = fields[i].trimmed();
        if (name.isEmpty()) break;  // the closing "||"
        const qsizetype open = name.lastIndexOf(QLatin1Char('('));
        if (open > 0 && name.endsWith(QLatin1Char(')'))) name = name.left(open).trimmed();
        QStringList patterns = fields[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        }
        result << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result.join(QStringLiteral(";;"));
}

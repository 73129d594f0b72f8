#include "tool/wizard/FileDialogFilter.h"

QStringList ToQtNameFilters(const QString& barSeparatedFilter) {
    const QStringList parts = barSeparatedFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        patterns.removeAll(QString());
        if (patterns.isEmpty()) {
            continue;
        }
        const QString patternText = patterns.join(QLatin1Char(' '));
        const QString suffix = QLatin1Char('(') + patternText + QLatin1Char(')');
        if (description.isEmpty()) {
            filters.append(suffix);
        } else if (description.endsWith(suffix)) {
            filters.append(description);
        } else {
            filters.append(description + QLatin1Char(' ') + suffix);
        }
    }
    return filters;
}

#include "text/linereplacer.h"

QString replaceValuesInLine(const QString &lineAsRead, const QStringList &fromValues,
                            const QStringList &toValues, bool caseSensitive,
                            QList<LineRecord> *records)
{
    QString line = lineAsRead;
    const qsizetype pairs = qMin(fromValues.size(), toValues.size());
    for (qsizetype i = 0; i < pairs; ++i) {
        const QString &value = fromValues.at(i);
        // An empty value would be "found" between every two characters of every line.
        if (value.isEmpty())
            continue;

        QString replaced;
        if (line.contains(value, Qt::CaseSensitive)) {
            replaced = value;
        } else if (caseSensitive || !line.contains(value, Qt::CaseInsensitive)) {
            continue;
        } else {
            // Found only when case is ignored: take the variant that the line as read holds.
            const qsizetype at = lineAsRead.indexOf(value, 0, Qt::CaseInsensitive);
            const QString foundText =
                    at >= 0 ? lineAsRead.mid(at, value.size()) : lineAsRead.left(value.size());
            if (foundText.toLower() != value.toLower()) {
                if (records)
                    records->append({ LineRecord::Kind::NotIdentified, value.trimmed(), {} });
                continue;
            }
            replaced = foundText;
        }
        line.replace(replaced, toValues.at(i), Qt::CaseSensitive);
        if (records)
            records->append({ LineRecord::Kind::Modified, lineAsRead.trimmed(), line.trimmed() });
    }
    return line;
}

bool lineHoldsAnyValue(const QString &line, const QStringList &fromValues, bool caseSensitive)
{
    const Qt::CaseSensitivity sensitivity = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (const QString &value : fromValues) {
        if (!value.isEmpty() && line.contains(value, sensitivity))
            return true;
    }
    return false;
}

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Matching and replacing the values of one environment in one line of text.
//
// Values are tried in list order, each on the line as already changed by the values before it.
// A value found with its exact case is replaced wherever it stands with that case. When case is
// ignored and the value is found only in another case, the variant met first in the line as read
// is replaced wherever it stands with that exact case; when that variant cannot be identified
// (the line as read does not hold it, or its lower-case form differs from the value's), the line
// is left as it is and a "not identified" record is made. An empty value matches nothing.

struct LineRecord
{
    enum class Kind { Modified, NotIdentified };
    Kind kind = Kind::Modified;
    QString before; // Modified: the line as read; NotIdentified: the value
    QString after; // Modified: the line after this replacement
};

// Applies fromValues[i] -> toValues[i] to lineAsRead and returns the new line. Appends one record
// per replacement, and per value found but not identified, to records when it is not null.
// Only pairs that have a counterpart in toValues are used.
QString replaceValuesInLine(const QString &lineAsRead, const QStringList &fromValues,
                            const QStringList &toValues, bool caseSensitive,
                            QList<LineRecord> *records);

// Whether the line holds one of the values: with their exact case, or in any case when
// caseSensitive is false.
bool lineHoldsAnyValue(const QString &line, const QStringList &fromValues, bool caseSensitive);

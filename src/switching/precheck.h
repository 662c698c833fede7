#pragma once

#include <QString>
#include <QStringList>

// Whether the file at filePath holds, in one of its lines, one of fromValues (with their exact
// case, or in any case when caseSensitive is false). A file that no longer exists or cannot be
// read gives false after its message boxes. An empty value matches nothing.
bool fileHoldsAnyValue(const QStringList &fromValues, const QString &filePath, bool caseSensitive);

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class Journal;

// Whether the file at filePath holds, in one of its lines, one of fromValues (with their exact
// case, or in any case when caseSensitive is false). A file that no longer exists or cannot be
// read gives false after its message boxes. An empty value matches nothing.
[[nodiscard]] bool fileHoldsAnyValue(const QStringList &fromValues, const QString &filePath,
                                     bool caseSensitive);

// The first step of the check above: the bytes of the file, or nothing after the message boxes
// of a file that no longer exists or cannot be read. The journal is brought up to date before
// a box is shown. unreadable, when given, tells a file that is there but could not be read from
// one that is gone.
[[nodiscard]] std::optional<QByteArray> readFileToCheck(const QString &filePath, Journal *journal,
                                                        bool *unreadable = nullptr);

// The boxes of a file that could not be read: gone (missing), or there but out of reach.
void showReadFailure(const QString &filePath, bool missing);

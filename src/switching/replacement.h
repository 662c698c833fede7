#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class Journal;
class QPlainTextEdit;
class SwitchValues;

// Replaces, line by line, each value of fromValues by the value of the same index in toValues,
// records every replacement in the journal ("Avant :" / "Après :") and writes the file back.
// A file whose text would not survive the rewrite (NUL bytes, bytes that are not valid in its
// encoding) is never written: when it holds a value the journal says why it was left intact.
// Returns whether the file was read and written back; failures are reported in message boxes.
bool replaceValuesInFile(const QStringList &fromValues, const QStringList &toValues,
                         const QString &filePath, bool caseSensitive, QPlainTextEdit *journal);

// The same, for a file already read into bytes.
bool replaceValuesInBytes(const QByteArray &bytes, const SwitchValues &values,
                          const QString &filePath, Journal &journal);

// Writes lines, as UTF-8, each followed by the platform's line terminator. The new content goes to
// a temporary file beside the original, which is replaced only once every byte is on disk: on any
// failure the file keeps its previous bytes and a message box says so.
bool writeLinesToFile(const QString &filePath, const QStringList &lines);

// Tells in the journal that a folder of the tree could not be listed, so that its files were
// left in the environment they were in.
void recordUnreadableDirectory(const QString &directory, Journal &journal);

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

// What became of a file handed to the replacement.
enum class FileOutcome {
    Switched,   // written back
    LeftIntact, // holds a value, but its text would not survive a rewrite: the journal says why
    NoValue,    // its text would not survive a rewrite, and it holds no value: nothing to do
    NotWritten, // the rewrite failed: the file keeps its bytes, a message box has said so
};

// The same, for a file already read into bytes.
[[nodiscard]] FileOutcome replaceValuesInBytes(const QByteArray &bytes, const SwitchValues &values,
                                               const QString &filePath, Journal &journal);

enum class EnvironmentOutcome {
    Recorded,      // config.ini names the new environment
    Failed,        // config.ini could not be read or written: a message box has said so
    NotRewritable, // broken UTF-16 or UTF-32: writing it would alter it; nothing was written
    NotRecorded,   // no rewrite would make it name the new environment; nothing was written
};

// Writes the new environment into config.ini (see switchEnvironment) and its changes into the
// journal, before any file of the tree is switched.
[[nodiscard]] EnvironmentOutcome recordEnvironment(const QString &configPath, bool toProduction,
                                                   bool caseSensitive,
                                                   const QString &mainDirInForce,
                                                   Journal &journal);

// Writes lines, as UTF-8, each followed by the platform's line terminator. The new content goes to
// a temporary file beside the original, which is replaced only once every byte is on disk: on any
// failure the file keeps its previous bytes and a message box says so.
bool writeLinesToFile(const QString &filePath, const QStringList &lines);

// Tells in the journal that a folder of the tree could not be listed, so that its files were
// left in the environment they were in.
void recordUnreadableDirectory(const QString &directory, Journal &journal);

// Tells in the journal that a file was left in the environment it was in: it could not be
// read, or could not be written back.
void recordUnreadableFile(const QString &filePath, Journal &journal);
void recordFailedWrite(const QString &filePath, Journal &journal);

// Tells in the journal that a pair of values is not used, one of its values being empty.
void recordPairLeftAside(const QString &prodValue, const QString &devValue, Journal &journal);

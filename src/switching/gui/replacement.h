#pragma once

#include "switching/interruptedrun.h"
#include "text/linereplacer.h"
#include "files/rewrite.h"
#include "text/textformat.h"

#include <QString>
#include <QStringList>

class Journal;
class QPlainTextEdit;

// The file operations that tell the user what they did: records in the journal, message boxes.

// Replaces, line by line, each value of fromValues by the value of the same index in toValues,
// records every replacement in the journal ("Avant :" / "Après :") and writes the file back.
// A file whose text would not survive the rewrite (NUL bytes, bytes that are not valid in its
// encoding) is never written: when it holds a value the journal says why it was left intact.
// Returns whether the file was read and written back; failures are reported in message boxes.
bool replaceValuesInFile(const QStringList &fromValues, const QStringList &toValues,
                         const QString &filePath, bool caseSensitive, QPlainTextEdit *journal);

// Writes lines, as UTF-8, each followed by the platform's line terminator. The new content goes to
// a temporary file beside the original, which is replaced only once every byte is on disk: on any
// failure the file keeps its previous bytes and a message box says so.
bool writeLinesToFile(const QString &filePath, const QStringList &lines);

// The boxes of a file that could not be read: gone (missing), or there but out of reach.
void showReadFailure(const QString &filePath, bool missing);

// The box that says a rewrite failed: the file keeps its previous bytes. The system's reason
// goes to the debug output.
void showWriteFailure(const QString &filePath, const WriteResult &write);

// The journal's records.
// A line of the file changed ("Fichier modifié", "Avant :", "Après :"), or a value found in it
// but not identified.
void recordLine(const QString &filePath, const LineRecord &record, Journal &journal);
// A file holding a value left intact, its text being of the kind that would not survive a
// rewrite.
void recordLeftIntact(const QString &filePath, TextSafety safety, Journal &journal);
// A folder of the tree could not be listed: its files were left in the environment they were in.
void recordUnreadableDirectory(const QString &directory, Journal &journal);
// A file left in the environment it was in: it could not be read, or could not be written back.
void recordUnreadableFile(const QString &filePath, Journal &journal);
void recordFailedWrite(const QString &filePath, Journal &journal);
// A file that changed while the run went on: it keeps what it holds now.
void recordChangedDuringRun(const QString &filePath, Journal &journal);
// A file whose new content could not be put in place: it waits beside it for the next time.
void recordNotPlaced(const QString &filePath, Journal &journal);
// A run abandoned once its records were in the journal: nothing of them was written.
void recordRunAbandoned(const QString &mainDir, bool fromProduction, Journal &journal);
// What became of a file of a run that was stopped half-way, found again (see settleInterruptedRun).
void recordInterruptedFile(const InterruptedRun::File &file, Journal &journal);
// A pair of values is not used, one of its values being empty.
void recordPairLeftAside(const QString &prodValue, const QString &devValue, Journal &journal);

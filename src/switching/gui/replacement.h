#pragma once

#include "switching/interruptedrun.h"
#include "text/linereplacer.h"
#include "files/rewrite.h"
#include "text/textformat.h"

#include <QString>
#include <QStringList>

class Journal;

// What a switch tells the user of its files: records in the journal, message boxes.

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

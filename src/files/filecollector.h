#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class StoragePace;

// Appends to fileList the files under directory whose names match one of the patterns of
// filterText (separated by ";", used as written, matched ignoring case; hidden files included).
//
// Order: inside each directory, the contents of its sub-directories first (walked in name order,
// ignoring case), then its own files (same order). Paths use "/" and start with directory as
// folderPathFromSettings writes it, ending with one "/"; relative stays relative.
// Temporary files of the program (see isTemporaryFileName) are left out.
// Links are followed, but a link that leads back to a directory being walked is not entered
// again. Unreadable or missing directories list as empty; the unreadable ones (not those that
// vanished) are added to unreadableDirectories when it is given, with a final "/". Nothing already
// in fileList changes. The list only grows at its end, in its final order: listed, when given, is
// called each time files were added, with the index of the first one added. preparedContents,
// when given, gets the paths of the contents prepared by a switch run (see PreparedName) that the
// folders listed hold, whatever the name patterns.
// Folders are listed several at once ahead of the walk, as many as the storage's pace says (see
// StoragePace, which the listings also feed).
void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText,
                  QStringList *unreadableDirectories = nullptr,
                  const std::function<void(qsizetype first)> &listed = {},
                  QStringList *preparedContents = nullptr, StoragePace *pace = nullptr);

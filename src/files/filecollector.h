#pragma once

#include "files/filesystem.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class StoragePace;

// A folder as a walk goes through it (see walkFolders).
struct WalkedFolder
{
    QString path; // ends with "/"
    // There, but its entries cannot be listed or reached (told only with checkReadable): nothing
    // else is said of it.
    bool unreadable = false;
    QStringList prepared; // the names of the contents prepared by a switch run (see PreparedName)
    // Its sub-folders that the walk goes into and its files that the name patterns take, in the
    // walk's order.
    QList<FolderEntry> entries;
};

// How a walk goes through a tree, and what it is told of each folder.
struct FolderWalk
{
    bool recurse = true; // sub-folders walked as well
    // The files the walk gives: patterns separated by ";", used as written, matched ignoring case.
    QString filterText = QStringLiteral("*");
    bool checkReadable = false; // see WalkedFolder::unreadable
    // Entries in name order ignoring case; in the order the system lists them otherwise.
    bool inNameOrder = true;
    // Every entry of the folders looked at (see readFolder): a prepared content is then any entry
    // that bears its name, and neither walked into nor given as a file.
    bool everyEntry = false;
    // When given, the identities (see fileIdentity) of the folders walked, kept from one walk to
    // the next: each folder is walked once, under the first path that leads to it, and one whose
    // identity cannot be known is not walked.
    QSet<QString> *walked = nullptr;
    // The storage's pace, which the listings follow and feed; one of the walk's own otherwise.
    StoragePace *pace = nullptr;
    // Told of a folder before its sub-folders are walked, and after (not for an unreadable one).
    std::function<void(const WalkedFolder &)> entering;
    std::function<void(const WalkedFolder &)> leaving;
    // Told of each file of a folder in its turn among the folder's entries: after the sub-folders
    // before it, before those after it.
    std::function<void(const WalkedFolder &, const FolderEntry &file)> file;
};

// Walks the tree under the folder top ("/" between names, see folderPathFromSettings), depth
// first: inside each folder, its sub-folders in their turn. Below top, names are taken as the
// system gives them (on Unix, a name may hold a backslash). Links are followed, but a link that
// leads back to a folder being walked is not entered again. Folders are listed several at once
// ahead of the walk, as many as the storage's pace says (see StoragePace, which the listings also
// feed).
void walkFolders(const QString &top, const FolderWalk &walk);

// Appends to fileList the files under directory whose names match one of the patterns of
// filterText (separated by ";", used as written, matched ignoring case; hidden files included).
//
// Order: inside each directory, the contents of its sub-directories first (walked in name order,
// ignoring case), then its own files (same order). Paths use "/" and start with directory as
// folderPathFromSettings writes it, ending with one "/"; relative stays relative.
// Temporary files of the program (see isTemporaryFileName) are left out.
// The tree is walked as walkFolders walks it. Unreadable or missing directories list as empty;
// the unreadable ones (not those that vanished) are added to unreadableDirectories when it is
// given, with a final "/". Nothing already in fileList changes. The list only grows at its end, in
// its final order: listed, when given, is called each time files were added, with the index of
// the first one added. preparedContents, when given, gets the paths of the contents prepared by a
// switch run (see PreparedName) that the folders listed hold, whatever the name patterns.
void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText,
                  QStringList *unreadableDirectories = nullptr,
                  const std::function<void(qsizetype first)> &listed = {},
                  QStringList *preparedContents = nullptr, StoragePace *pace = nullptr);

#pragma once

#include "files/rewrite.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a switch run stopped half-way (a crash, a power cut, a program killed) left behind: new
// contents prepared beside their files (see PreparedName), neither put in place nor removed.
struct InterruptedRun
{
    enum class Fate {
        Placed, // the run had recorded the new environment: the content is now in place
        Changed, // so had it, but the file changed since it was read: it keeps what it holds
        Removed, // the run had not recorded the new environment: the content is gone
        // The file was removed or renamed since: it stays so, and the content is gone.
        Gone,
        // The system refused to put it in place: the file keeps what it held, the content stays
        // beside it for the next time.
        NotPlaced,
        // Left where it is: no file of its folder answers to it any more (its only copy), or
        // the system refused to remove it.
        NotSettled,
    };
    struct File
    {
        // The file the content was prepared for; the prepared content itself when no file of its
        // folder answers to it.
        QString path;
        Fate fate = Fate::Removed;
        WriteResult write;
    };
    QList<File> files; // by path
    // A switch still going on (in another window, another installation, on another machine) holds
    // some of what was found: nothing was settled.
    bool busy = false;

    bool isEmpty() const { return files.isEmpty(); }
    qsizetype count(Fate fate) const;
};

// Finds what a stopped run left in the tree under mainDir (its folders, those its links lead to)
// and in otherFolders (not their sub-folders), and settles it as the environment in force says,
// the one config.ini names: contents prepared for that environment are put in place, since the
// run had recorded it (the file's name and what it was when read must answer, or it is left as it
// is); the others are removed, since it had not. A content whose file is no longer there (removed
// or renamed since) is removed, unless Windows was replacing that file (its backup is there).
//
// A run that is still going on locks its contents (see FileLock): when any of what is found is
// locked, nothing is settled and the result is busy. The caller holds config.ini's lock, which
// keeps this installation's runs off meanwhile. Only this installation's contents are settled
// (see installationHash): another installation naming the same tree records its environment in
// its own config.ini, and settles its own.
[[nodiscard]] InterruptedRun settleInterruptedRun(const QString &mainDir,
                                                  const QStringList &otherFolders,
                                                  bool productionInForce, quint64 installation);

// The paths of the contents prepared by switch runs (see PreparedName) that a folder holds, not
// its sub-folders.
[[nodiscard]] QStringList preparedContentsIn(const QString &folder);

enum class SettingsRestore {
    NotMissing, // the file is there
    Restored,
    NotRestored, // there was nothing to put back, or it could not be
    HeldByRun, // a run going on (another window) is replacing it
};
// Puts back a settings file that a stop of the program left missing while Windows replaced it
// (the file as it was waits under a backup name, see PreparedName), unless a run still going on
// is replacing it.
SettingsRestore restoreSettingsFile(const QString &path);

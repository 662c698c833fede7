#pragma once

#include "config/settingsgrammar.h"
#include "switching/environmentswitch.h"
#include "files/filelock.h"
#include "switching/fileswitch.h"

#include <QString>
#include <QStringList>

// One switch run, with no window: the tree moves from the environment in force to the other one.
// What the user is to see goes through a SwitchObserver, in the order it happens; the window
// phrases it in its journal and its boxes.

struct SwitchRequest
{
    QString mainDir;
    bool recurse = true;
    QString filterText;
    bool fromProduction = true;
    ValuePairs pairs; // as values.ini gives them
    QString configPath; // gets the new environment before any file is switched
    QString valuesPath; // never switched as a file of the tree
    // The caller's lock on config.ini, which keeps other windows off the tree: once config.ini's
    // new content is in place, its own lock stands for it and this one goes.
    FileLock *configLock = nullptr;
    // Whether the caller has just settled what stopped runs left (see settleInterruptedRun): the
    // contents still there are left to be looked at, and the run only avoids their names.
    bool leftoversSettled = false;
    // The installation whose config.ini this is (see installationHash): the prepared contents
    // carry it, and those of another installation are never taken for this one's.
    quint64 installation = 0;
};

class SwitchObserver
{
public:
    virtual ~SwitchObserver() = default;

    // A line changed, or a value not identified, in a file (config.ini's records come first,
    // once it is written).
    virtual void lineRecorded(const QString &path, const LineRecord &record) = 0;
    // A pair of values is not used, one of its values being empty.
    virtual void pairLeftAside(const QString &prodValue, const QString &devValue) = 0;
    // A folder of the tree could not be listed: its files keep their values.
    virtual void folderNotRead(const QString &directory) = 0;
    // The files of the tree are about to be gone through.
    virtual void filesStarting(qsizetype count) = 0;
    // Every ten files: the number of files gone through so far. The user may act meanwhile.
    virtual void progress(qsizetype done) = 0;
    // The state of "Sensible à la case" for the next file.
    virtual bool caseSensitive() const = 0;
    // A file of the tree could not be read: it is gone (missing), or out of reach.
    virtual void fileNotRead(const QString &path, bool missing) = 0;
    // A file holding a value was left as it was: its text would not survive a rewrite, the
    // rewrite failed, the file changed while the run went on, or its new content could not be
    // put in place and waits beside it (see FileSwitch).
    virtual void fileLeftBehind(const QString &path, const FileSwitch &result) = 0;
    // Whether the program is to stop (see RunStop): until the new environment is recorded, the
    // run is then abandoned.
    virtual bool stopRequested() const { return false; }
};

struct SwitchRun
{
    QStringList files; // the files collected from the tree
    EnvironmentWrite environment; // anything but Recorded: no file was switched
    // The run was abandoned before it recorded the new environment, and switched nothing, because:
    bool abandoned = false; // a stop was requested
    bool leftoversFound = false; // contents prepared by another run lie in the tree (to settle)
    bool switchElsewhere = false; // another switch of the tree is going on (it holds its locks)
    // a cause that would meet every file to write: a full disk, a read-only file system, a share
    // gone; storageFailurePath is the file it met first (the tree's folder when it is gone), and
    // storageFailure the system's word, when it gave one
    StorageFault storageFault = StorageFault::None;
    QString storageFailurePath;
    WriteResult storageFailure;
    qsizetype filesLeftBehind = 0;
    qsizetype foldersLeftBehind = 0;
    qsizetype filesNotPlaced = 0; // their new contents wait beside them (see FileOutcome)
    // Once the new environment was recorded: a flush that failed, so that what was put in place
    // may not survive a power cut.
    WriteResult durable;
    // The flush of config.ini's folder failed once its new content was in place: the files were
    // not put in place, since a power cut could then keep them and lose config.ini's new name.
    // Their new contents wait beside them, for the next click or start (see durable).
    bool placementPostponed = false;

    // Whether the run recorded the new environment: the tree is in it, but for what was left
    // behind.
    bool recorded() const
    {
        return !abandoned && !leftoversFound && !switchElsewhere
                && storageFault == StorageFault::None
                && environment.outcome == EnvironmentOutcome::Recorded;
    }
};

// Collects the files and switches each file of the tree once: a file reached by a second path (a
// link, a folder linked from elsewhere) is switched once, and the settings files are not files of
// the tree (config.ini only gets its environment line, values.ini keeps both sets of values).
//
// A whole run or none: every new content is first prepared beside its file (config.ini's first),
// then all are made durable together; putting config.ini's in place records the new environment,
// and only then are the files' put in place, one after the other, each folder made durable once.
// Stopped before that point, the run leaves the tree and config.ini as they were; after it, every
// file can be put in place, also by the next start after a crash (see settleInterruptedRun). A
// file that changed while the run went on keeps what it holds now.
//
// One run per tree at a time: the first new content prepared in each folder is locked (see
// FileLock) until the folder's last one is in place, and config.ini's until the run ends, so that
// another Mirabex neither settles them as leftovers nor switches the tree meanwhile. A run that
// meets another's contents, or its locks, does nothing (leftoversFound, switchElsewhere).
[[nodiscard]] SwitchRun switchTree(const SwitchRequest &request, SwitchObserver &observer);

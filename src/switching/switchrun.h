#pragma once

#include "config/settingsgrammar.h"
#include "switching/environmentswitch.h"
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
    // rewrite failed, or the file changed while the run went on (see FileSwitch).
    virtual void fileLeftBehind(const QString &path, const FileSwitch &result) = 0;
    // Whether the program is to stop (see RunStop): until the new environment is recorded, the
    // run is then abandoned.
    virtual bool stopRequested() const { return false; }
};

struct SwitchRun
{
    QStringList files; // the files collected from the tree
    EnvironmentWrite environment; // anything but Recorded: no file was switched
    bool abandoned = false; // a stop was requested before the new environment was recorded
    qsizetype filesLeftBehind = 0;
    qsizetype foldersLeftBehind = 0;
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
[[nodiscard]] SwitchRun switchTree(const SwitchRequest &request, SwitchObserver &observer);

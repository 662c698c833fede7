#include "switching/switchrun.h"

#include "switching/filecollector.h"
#include "switching/filesystem.h"
#include "switching/interruptedrun.h"
#include "switching/readahead.h"

#include <QFileInfo>
#include <QSet>

#include <chrono>
#include <optional>

namespace {

// The new contents of a run, on disk beside their files. Those still held when it goes (a run
// abandoned, or that could not record the new environment) are removed: the tree stays as it was.
class PreparedContents
{
public:
    PreparedContents() = default;
    // The locked ones last, as they are put in place (see takeAll).
    ~PreparedContents()
    {
        for (const PreparedFile &file : takeAll())
            (void)removePreparedFile(file);
    }
    Q_DISABLE_COPY_MOVE(PreparedContents)

    void add(const PreparedFile &file) { m_files.append(file); }
    const QList<PreparedFile> &files() const { return m_files; }
    // The contents, those that hold their folder's lock last: until the last content of a folder
    // is in place, another Mirabex finds the folder's lock and keeps off.
    QList<PreparedFile> takeAll()
    {
        QList<PreparedFile> files = std::exchange(m_files, {});
        std::stable_partition(files.begin(), files.end(),
                              [](const PreparedFile &file) { return !file.lock; });
        return files;
    }
    // Leaves the contents where they are, to be put in place by the next run or start.
    void keepAll() { m_files.clear(); }

private:
    QList<PreparedFile> m_files;
};

// Whether a failure to write will meet every file the run has yet to write: the run is then
// abandoned at once, rather than telling the same cause for each file. Only a failure on the
// device of the tree's folder or of config.ini is taken so: a read-only or full file system
// mounted inside the tree meets its own files alone.
bool meetsEveryFile(const WriteResult &write, quint64 device, const QSet<quint64> &mainDevices)
{
    if (!mainDevices.contains(device))
        return false;
    switch (write.fault()) {
    case StorageFault::Full:
    case StorageFault::QuotaReached:
    case StorageFault::ReadOnly:
    case StorageFault::Unreachable:
    case StorageFault::TooManyFiles:
        return true;
    case StorageFault::None:
    case StorageFault::FileOnly:
    case StorageFault::NameTaken:
        return false;
    }
    return false;
}

} // namespace

SwitchRun switchTree(const SwitchRequest &request, SwitchObserver &observer)
{
    SwitchRun run;

    // A pair with an empty value would only work one way: the switch back could not undo it.
    QList<qsizetype> leftAside;
    const ValuePairs usable = request.pairs.usablePairs(&leftAside);
    // The values of the run, ready for the search in each file, for either state of
    // "Sensible à la case", which the user may change while the run goes.
    const QStringList &fromValues = request.fromProduction ? usable.prodValues : usable.devValues;
    const QStringList &toValues = request.fromProduction ? usable.devValues : usable.prodValues;
    const SwitchValues valuesBySensitivity[2] = { SwitchValues(fromValues, toValues, false),
                                                  SwitchValues(fromValues, toValues, true) };
    auto values = [&](bool caseSensitive) -> const SwitchValues & {
        return valuesBySensitivity[caseSensitive ? 1 : 0];
    };

    // The files are read and searched on the other core as soon as they are listed, then ahead
    // of the loop below, which switches them and hands their records on.
    ReadAhead readAhead(
            [&](const QByteArray &bytes, bool caseSensitive) {
                return bytesHoldAnyValue(bytes, values(caseSensitive));
            },
            observer.caseSensitive());
    QStringList unreadableDirectories;
    QStringList preparedSeen;
    collectFiles(
            request.mainDir, run.files, request.recurse, request.filterText, &unreadableDirectories,
            [&](qsizetype first) { readAhead.add(run.files.mid(first)); }, &preparedSeen);
    readAhead.endList();
    // What a stopped run of this installation left is settled before anything is prepared: a new
    // content would otherwise meet its name. What another installation's run is writing now (it
    // holds its lock) is waited for; what a stopped one left is its own to settle.
    preparedSeen += preparedContentsIn(QFileInfo(request.configPath).absolutePath());
    for (const QString &path : std::as_const(preparedSeen)) {
        const std::optional<PreparedName> name = PreparedName::parse(QFileInfo(path).fileName());
        if (name->installation == 0 || name->installation == request.installation) {
            run.leftoversFound = run.leftoversFound || !request.leftoversSettled;
        } else if (FileLock::heldElsewhere(path)) {
            run.switchElsewhere = true;
            return run;
        }
    }
    if (run.leftoversFound)
        return run;
    QSet<quint64> mainDevices{ fileStamp(QString(request.mainDir).replace(u'\\', u'/')).device };

    // config.ini's new content is prepared before any file: when it cannot be, nothing is
    // switched, and its records come first in the journal. It stays locked until the run ends.
    const bool toProduction = !request.fromProduction;
    run.environment = prepareEnvironment(request.configPath, toProduction, observer.caseSensitive(),
                                         request.mainDir, request.installation);
    if (run.environment.outcome != EnvironmentOutcome::Recorded) {
        if (run.environment.lockOutcome == FileLock::Outcome::Held)
            run.switchElsewhere = true;
        else if (run.environment.write.fault() == StorageFault::NameTaken)
            run.leftoversFound = true;
        return run;
    }
    PreparedContents configContent;
    configContent.add(run.environment.prepared);
    mainDevices.insert(run.environment.prepared.device);
    for (const LineRecord &record : std::as_const(run.environment.records))
        observer.lineRecorded(request.configPath, record);
    for (const qsizetype pair : std::as_const(leftAside))
        observer.pairLeftAside(request.pairs.prodValues.at(pair), request.pairs.devValues.at(pair));

    QSet<QString> handled;
    for (const QString &settingsFile : { request.configPath, request.valuesPath }) {
        const QString identity = fileIdentity(settingsFile);
        if (!identity.isEmpty())
            handled.insert(identity);
    }

    // A folder that could not be listed is said before the files; one reached by two paths (a
    // link to it) is said once.
    QSet<QString> unreadableIdentities;
    for (const QString &directory : std::as_const(unreadableDirectories)) {
        const QString identity = fileIdentity(directory);
        if (!identity.isEmpty() && unreadableIdentities.contains(identity))
            continue;
        unreadableIdentities.insert(identity);
        observer.folderNotRead(directory);
        ++run.foldersLeftBehind;
    }

    observer.filesStarting(run.files.size());
    const auto onRecord = [&](const QString &path) {
        return [&observer, &path](const LineRecord &record) {
            observer.lineRecorded(path, record);
        };
    };
    PreparedContents contents;
    // The entries (a folder and a name in it) whose new content is prepared: another path to the
    // same entry (a link to the file, a folder reached twice) finds the file still as it was, and
    // must not switch it a second time. Another hard link to the file is an entry of its own, and
    // is switched in its turn, as the rewrite gives each entry a file of its own.
    QSet<QString> preparedEntries;
    // The folders whose first new content is locked (see PreparedContents::takeAll).
    QSet<QByteArray> lockedFolders;
    // The last time a box about a file may have waited for the user, who may have changed the tree
    // meanwhile.
    std::chrono::steady_clock::time_point userMayHaveActed;
    qsizetype counter = 0;
    for (const QString &path : std::as_const(run.files)) {
        ++counter;
        if (counter % 10 == 0) {
            observer.progress(counter);
            readAhead.setCaseSensitive(observer.caseSensitive());
        }
        if (observer.stopRequested()) {
            run.abandoned = true;
            return run;
        }
        const bool caseSensitive = observer.caseSensitive();
        std::optional<ReadAhead::File> ahead = readAhead.take(counter - 1);
        // A file read ahead a moment ago without a value is done with as it was read. Any other
        // is checked at its turn: read again when it changed since it was read.
        FileStamp stamp;
        if (ahead && !ahead->holdsValue && ahead->caseSensitive == caseSensitive
            && ahead->readJustNow(userMayHaveActed)) {
            stamp = ahead->stamp;
        } else {
            stamp = fileStamp(path);
            if (ahead && !ahead->stillAsRead(stamp))
                ahead.reset();
        }
        QString identity = stamp.identity();
        if (handled.contains(identity))
            continue;
        // Each file is read once, for the search and for the replacement: ahead of its turn when
        // it has not changed since, now otherwise.
        QByteArray bytes;
        FileStamp basis = stamp; // what the file was when read
        bool holdsValue = false;
        if (ahead) {
            bytes = std::move(ahead->bytes);
            holdsValue = ahead->caseSensitive == caseSensitive
                    ? ahead->holdsValue
                    : bytesHoldAnyValue(bytes, values(caseSensitive));
        } else if (readFileBytes(path, bytes, &basis)) {
            holdsValue = bytesHoldAnyValue(bytes, values(caseSensitive));
        } else {
            const bool missing = isMissingFile(path);
            // A tree that no longer answers (a share gone, a disk unplugged) would fail every
            // file in turn.
            if (!fileStamp(QString(request.mainDir).replace(u'\\', u'/')).valid) {
                run.storageFault = StorageFault::Unreachable;
                run.storageFailurePath = request.mainDir;
                return run;
            }
            observer.fileNotRead(path, missing);
            userMayHaveActed = std::chrono::steady_clock::now();
            if (!missing)
                ++run.filesLeftBehind;
        }
        if (holdsValue) {
            Rewrite rewrite(path, toProduction, basis, request.installation);
            const QString entry = rewrite.entryKey();
            if (!entry.isEmpty() && preparedEntries.contains(entry))
                continue;
            const QByteArray folder = rewrite.folder();
            if (!folder.isEmpty() && !lockedFolders.contains(folder))
                rewrite.lockContent();
            FileSwitch switched =
                    switchFileInto(bytes, values(caseSensitive), rewrite, onRecord(path));
            if (switched.outcome == FileOutcome::Switched) {
                PreparedFile prepared;
                switched.write = rewrite.prepare(prepared);
                if (switched.write) {
                    contents.add(prepared);
                    preparedEntries.insert(entry);
                    if (prepared.lock)
                        lockedFolders.insert(folder);
                    // Until it is in place, the file is still as it was under each of its names.
                    identity.clear();
                } else if (rewrite.lockOutcome() == FileLock::Outcome::Held) {
                    // Another Mirabex took the new content as it was made: it is at work here.
                    run.switchElsewhere = true;
                    return run;
                } else if (switched.write.fault() == StorageFault::NameTaken) {
                    run.leftoversFound = true;
                    return run;
                } else if (meetsEveryFile(switched.write, rewrite.device(), mainDevices)) {
                    run.storageFault = switched.write.fault();
                    run.storageFailure = switched.write;
                    run.storageFailurePath = path;
                    return run;
                } else {
                    switched.outcome = FileOutcome::NotWritten;
                }
            }
            switch (switched.outcome) {
            case FileOutcome::NotWritten:
                // Nothing was written: another name of the same file is tried in its turn.
                identity.clear();
                observer.fileLeftBehind(path, switched);
                userMayHaveActed = std::chrono::steady_clock::now();
                ++run.filesLeftBehind;
                break;
            case FileOutcome::LeftIntact:
                observer.fileLeftBehind(path, switched);
                ++run.filesLeftBehind;
                break;
            case FileOutcome::Switched:
            case FileOutcome::NoValue:
            case FileOutcome::Changed:
            case FileOutcome::NotPlaced:
                break;
            }
        }
        if (!identity.isEmpty())
            handled.insert(identity);
    }

    // Every new content durable before the new environment is recorded: after that point, the
    // run can always be finished.
    QList<PreparedFile> everything = contents.files();
    everything.append(run.environment.prepared);
    run.environment.write = flushPreparedFiles(everything);
    if (!run.environment.write) {
        run.environment.outcome = EnvironmentOutcome::NotDurable;
        return run;
    }
    if (observer.stopRequested()) {
        run.abandoned = true;
        return run;
    }

    // The point of no return: config.ini names the new environment, durably, before any file of
    // the tree is put in place. Its lock, which the new content carries, keeps other windows off
    // until the run ends.
    const QList<PreparedFile> configFile = configContent.takeAll();
    switch (putInPlace(configFile.constFirst(), &run.environment.write)) {
    case PlaceOutcome::Placed:
        break;
    case PlaceOutcome::Changed:
        run.environment.outcome = EnvironmentOutcome::Changed;
        return run;
    case PlaceOutcome::Waiting:
        // Not in place: the prepared content goes with the others.
        configContent.add(configFile.constFirst());
        Q_FALLTHROUGH();
    case PlaceOutcome::Failed:
        run.environment.outcome = EnvironmentOutcome::NotWritten;
        return run;
    }
    if (request.configLock && configFile.constFirst().lock
        && configFile.constFirst().lock->isHeld())
        request.configLock->release();
    run.durable = flushFolders(configFile);
    if (!run.durable) {
        // Should a power cut lose config.ini's new name, files put in place now would stand in
        // the other environment, and nothing would be left to tell it. They wait, durable, for
        // the next click or start, which finds config.ini as the disk kept it.
        run.placementPostponed = true;
        run.filesNotPlaced = contents.files().size();
        contents.keepAll();
        return run;
    }

    // The files in place in quick succession; what went wrong is said once they all are. A
    // content whose placement may pass later stays beside its file, for the next run or start.
    const QList<PreparedFile> prepared = contents.takeAll();
    QList<QPair<QString, FileSwitch>> notPlaced;
    for (const PreparedFile &file : prepared) {
        FileSwitch result;
        result.outcome = FileOutcome::NotPlaced;
        switch (putInPlace(file, &result.write)) {
        case PlaceOutcome::Placed:
            continue;
        case PlaceOutcome::Changed:
            result.outcome = FileOutcome::Changed;
            break;
        case PlaceOutcome::Waiting:
            result.waits = true;
            ++run.filesNotPlaced;
            break;
        case PlaceOutcome::Failed:
            break;
        }
        notPlaced.append({ file.path, result });
    }
    if (const WriteResult flushed = flushFolders(prepared); run.durable && !flushed)
        run.durable = flushed;
    for (const auto &[path, result] : std::as_const(notPlaced)) {
        observer.fileLeftBehind(path, result);
        ++run.filesLeftBehind;
    }
    return run;
}

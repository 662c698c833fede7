#include "switching/interruptedrun.h"

#include "files/filecollector.h"
#include "files/filesystem.h"
#include "files/storagepace.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <list>
#include <memory>
#include <optional>

namespace {

struct Scan
{
    QSet<QString> walked; // identities of the folders whose entries were looked at
    QMap<QString, bool> found; // the folders that hold what a stopped run left
    QStringList linkedFolders; // the folders of the files that the tree's links lead to
    StoragePace pace;
};

// Looks for prepared contents in the folder, and in its sub-folders when deep, each folder once:
// a link to a folder is walked as the collection walks it (not back up the tree), a link to a
// file gives the folder in which a run prepares that file's content. Whatever bears the name of a
// prepared content is one, and is not walked into.
// folder: a copy, since the list it comes from may grow meanwhile.
void scanFolder(QString folder, bool deep, Scan &scan)
{
    if (folder.isEmpty())
        return; // names no folder
    const QString top = folder.endsWith(u'/') ? folder : folder + u'/';
    FolderWalk walk;
    walk.recurse = deep;
    walk.inNameOrder = false;
    walk.everyEntry = true;
    walk.walked = &scan.walked;
    walk.pace = &scan.pace;
    walk.entering = [&](const WalkedFolder &walked) {
        // A folder is named as the walk reached it: the top as given, the others without their
        // final "/".
        if (!walked.prepared.isEmpty())
            scan.found.insert(walked.path == top ? folder : walked.path.chopped(1), true);
    };
    walk.file = [&](const WalkedFolder &walked, const FolderEntry &file) {
        if (file.isLink) {
            const QFileInfo link(walked.path + file.name);
            scan.linkedFolders.append(QFileInfo(link.canonicalFilePath()).absolutePath());
        }
    };
    walkFolders(folder, walk);
}

// What a stopped run left in one folder, with the files it was prepared for.
class FolderLeftovers
{
public:
    // installation: this one's (see installationHash). What another installation's run left is
    // its own to settle, by its own config.ini.
    FolderLeftovers(const QString &folder, quint64 installation) : m_folder(folder)
    {
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System
                                                         | QDir::NoDotAndDotDot);
        for (const QString &name : names) {
            if (const std::optional<PreparedName> prepared = PreparedName::parse(name)) {
                if (prepared->installation != 0 && prepared->installation != installation)
                    m_others.append(name);
                else if (prepared->backup)
                    m_backups.insert(key(*prepared), name);
                else
                    m_prepared.append(name);
                continue;
            }
            const quint64 hash = preparedNameHash(systemName(name));
            if (m_namesByHash.contains(hash))
                m_ambiguous.insert(hash);
            m_namesByHash.insert(hash, name);
        }
        // Two names of the folder with the same hash: neither may be taken for the other.
        for (const quint64 hash : std::as_const(m_ambiguous))
            m_namesByHash.remove(hash);
    }

    // Whether a run still going on holds any of what the folder holds (see FileLock): this
    // installation's in another window, or another installation's.
    bool busy() const
    {
        const QStringList all = m_prepared + m_backups.values() + m_others;
        return std::any_of(all.cbegin(), all.cend(), [&](const QString &name) {
            return FileLock::heldElsewhere(m_folder + u'/' + name);
        });
    }

    const QString &path() const { return m_folder; }

    void settle(bool productionInForce, QList<InterruptedRun::File> &settled)
    {
        for (const QString &name : std::as_const(m_prepared))
            settled.append(settlePrepared(name, productionInForce));
        // The file as it was, while Windows replaced it, with no prepared content left beside it.
        for (auto it = m_backups.cbegin(); it != m_backups.cend(); ++it) {
            if (std::optional<InterruptedRun::File> file = settleBackup(it.value()))
                settled.append(*file);
        }
    }

private:
    using Key = QPair<quint64, quint64>;
    static Key key(const PreparedName &name) { return { name.nameHash, name.stampHash }; }

    // The name of the file a content was prepared for: the folder's file whose name answers to
    // the hash, else the name the content carries (a file that is not there).
    QString fileFor(const PreparedName &prepared, bool &exists) const
    {
        QString name = m_namesByHash.value(prepared.nameHash);
        exists = !name.isEmpty();
        if (name.isEmpty() && !prepared.name.isEmpty())
            name = nameFromSystem(prepared.name);
        return name;
    }

    PreparedFile leftover(const QString &name, const QString &file, bool exists) const
    {
        PreparedFile leftover;
        leftover.folder = systemName(m_folder);
        leftover.temporaryName = systemName(name);
        leftover.name = systemName(file);
        leftover.hadFile = exists;
        return leftover;
    }

    InterruptedRun::File settlePrepared(const QString &preparedName, bool productionInForce)
    {
        const PreparedName prepared = *PreparedName::parse(preparedName);
        bool exists = false;
        const QString name = fileFor(prepared, exists);
        const PreparedFile content = leftover(preparedName, name, exists);
        const QString backup = m_backups.take(key(prepared));
        InterruptedRun::File settled;
        settled.path = m_folder + u'/' + (name.isEmpty() ? preparedName : name);
        if (!exists && backup.isEmpty()) {
            // No file of the folder answers to the content: it was removed or renamed since the
            // run read it, and stays so. Only a file that Windows was replacing (its backup is
            // there) may be missing for a while. Two names that answer to its hash leave it to be
            // looked at.
            const bool ambiguous = m_ambiguous.contains(prepared.nameHash);
            settled.fate =
                    ambiguous ? InterruptedRun::Fate::NotSettled : InterruptedRun::Fate::Gone;
            if (!ambiguous)
                settled.write = removePreparedFile(content);
            if (!settled.write)
                settled.fate = InterruptedRun::Fate::NotSettled;
            return settled;
        }
        if (name.isEmpty()) {
            // Windows was replacing a file whose name the content does not carry.
            settled.fate = InterruptedRun::Fate::NotSettled;
            return settled;
        }
        if (prepared.toProduction != productionInForce) {
            // The run had not recorded its environment: the file as it was stays, or comes back
            // if Windows was replacing it.
            settled.fate = InterruptedRun::Fate::Removed;
            settled.write = removePreparedFile(content);
            if (!backup.isEmpty()) {
                const PreparedFile asItWas = leftover(backup, name, exists);
                WriteResult kept = exists ? removePreparedFile(asItWas) : placeAgain(asItWas, true);
                if (settled.write && !kept)
                    settled.write = kept;
            }
            if (!settled.write)
                settled.fate = InterruptedRun::Fate::NotSettled;
            return settled;
        }
        // The run had recorded its environment: the content goes in place, unless the file
        // changed since it was read (checked here against the hash: the prepared file knows no
        // more of the file). A file that is not there was being replaced by Windows (its backup is
        // there). A content that cannot be put in place stays, for the next time.
        if (!exists || preparedStampHash(fileStamp(settled.path)) == prepared.stampHash) {
            settled.write = placeAgain(content);
            settled.fate =
                    settled.write ? InterruptedRun::Fate::Placed : InterruptedRun::Fate::NotPlaced;
        } else {
            settled.fate = InterruptedRun::Fate::Changed;
            settled.write = removePreparedFile(content);
            if (!settled.write)
                settled.fate = InterruptedRun::Fate::NotSettled;
        }
        if (!backup.isEmpty() && settled.fate != InterruptedRun::Fate::NotSettled
            && (exists || settled.fate == InterruptedRun::Fate::Placed))
            (void)removePreparedFile(leftover(backup, name, true));
        return settled;
    }

    std::optional<InterruptedRun::File> settleBackup(const QString &backupName)
    {
        const PreparedName backup = *PreparedName::parse(backupName);
        bool exists = false;
        const QString name = fileFor(backup, exists);
        const PreparedFile asItWas = leftover(backupName, name, exists);
        if (exists) {
            // The replacement was over: only its leftover is left.
            (void)removePreparedFile(asItWas);
            return std::nullopt;
        }
        InterruptedRun::File settled;
        settled.path = m_folder + u'/' + (name.isEmpty() ? backupName : name);
        if (name.isEmpty()) {
            settled.fate = InterruptedRun::Fate::NotSettled;
            return settled;
        }
        settled.write = placeAgain(asItWas, true);
        settled.fate =
                settled.write ? InterruptedRun::Fate::NotPlaced : InterruptedRun::Fate::NotSettled;
        return settled;
    }

    // onlyCopy: the file as it was, which is never removed (see putInPlace).
    static WriteResult placeAgain(const PreparedFile &file, bool onlyCopy = false)
    {
        WriteResult result;
        (void)putInPlace(file, &result, onlyCopy);
        return result;
    }

    QString m_folder;
    QHash<quint64, QString> m_namesByHash;
    QSet<quint64> m_ambiguous; // hashes that several names of the folder answer to
    QStringList m_prepared;
    QHash<Key, QString> m_backups;
    QStringList m_others; // another installation's
};

} // namespace

qsizetype InterruptedRun::count(Fate fate) const
{
    return std::count_if(files.cbegin(), files.cend(),
                         [fate](const File &file) { return file.fate == fate; });
}

InterruptedRun settleInterruptedRun(const QString &mainDir, const QStringList &otherFolders,
                                    bool productionInForce, quint64 installation)
{
    Scan scan;
    scanFolder(folderPathFromSettings(mainDir), true, scan);
    for (const QString &folder : otherFolders)
        scanFolder(QDir::fromNativeSeparators(folder), false, scan);
    for (qsizetype i = 0; i < scan.linkedFolders.size(); ++i)
        scanFolder(scan.linkedFolders.at(i), false, scan);

    InterruptedRun run;
    // Nothing is settled while a run still goes on: it holds its locks. A run of this
    // installation that starts meanwhile waits for config.ini's lock, which the caller holds.
    std::list<FolderLeftovers> folders;
    for (auto it = scan.found.cbegin(); it != scan.found.cend(); ++it) {
        if (folders.emplace_back(QDir::cleanPath(it.key()), installation).busy()) {
            run.busy = true;
            return run;
        }
    }
    QList<PreparedFile> settledFolders;
    for (FolderLeftovers &folder : folders) {
        folder.settle(productionInForce, run.files);
        PreparedFile inFolder;
        inFolder.folder = systemName(folder.path());
        settledFolders.append(inFolder);
    }
    (void)flushFolders(settledFolders);
    std::sort(run.files.begin(), run.files.end(),
              [](const InterruptedRun::File &a, const InterruptedRun::File &b) {
                  return a.path < b.path;
              });
    return run;
}

QStringList preparedContentsIn(const QString &folder)
{
    // Without a name filter, which Qt matches with its regular-expression engine: this runs on the
    // run's own thread, and the engine's per-thread state crashes the end of a thread with MinGW.
    QStringList contents;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System
                                                     | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (PreparedName::parse(name))
            contents.append(folder + u'/' + name);
    }
    return contents;
}

SettingsRestore restoreSettingsFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return SettingsRestore::NotMissing;
    const QByteArray name = systemName(info.fileName());
    const QStringList backups =
            info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &backup : backups) {
        const std::optional<PreparedName> parsed = PreparedName::parse(backup);
        if (!parsed || !parsed->backup || parsed->nameHash != preparedNameHash(name))
            continue;
        PreparedFile asItWas;
        asItWas.folder = systemName(info.absolutePath());
        asItWas.temporaryName = systemName(backup);
        asItWas.name = name;
        asItWas.hadFile = false;
        // A run going on may be between the two steps of its replacement: it holds the file as
        // it was open, with its lock.
        if (FileLock::heldElsewhere(info.absolutePath() + u'/' + backup))
            return SettingsRestore::HeldByRun;
        return putInPlace(asItWas, nullptr, true) == PlaceOutcome::Placed
                ? SettingsRestore::Restored
                : SettingsRestore::NotRestored;
    }
    return SettingsRestore::NotRestored;
}

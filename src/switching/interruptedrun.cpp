#include "switching/interruptedrun.h"

#include "switching/filesystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>

namespace {

struct Scan
{
    QSet<QString> ancestors; // identities of the folders on the way down (links back up)
    QSet<QString> scanned; // canonical paths of the folders whose entries were looked at
    QMap<QString, QStringList> found; // by folder: the names of the prepared contents in it
    QStringList linkedFolders; // the folders of the files that the tree's links lead to
};

// Looks for prepared contents in the folder, and in its sub-folders when deep: a link to a folder
// is walked as the collection walks it (not back up the tree), a link to a file gives the folder
// in which a run prepares that file's content.
void scanFolder(const QString &folder, bool deep, Scan &scan)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || scan.scanned.contains(canonical))
        return;
    scan.scanned.insert(canonical);
    QDirIterator entries(folder,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        const QFileInfo entry = entries.fileInfo();
        const QString name = entry.fileName();
        if (PreparedName::parse(name)) {
            scan.found[folder].append(name);
        } else if (deep && entry.isDir()) {
            const QString identity = fileIdentity(entry.filePath());
            if (identity.isEmpty() || scan.ancestors.contains(identity))
                continue;
            scan.ancestors.insert(identity);
            scanFolder(entry.filePath(), true, scan);
            scan.ancestors.remove(identity);
        } else if (entry.isSymLink() && entry.isFile()) {
            scan.linkedFolders.append(QFileInfo(entry.canonicalFilePath()).absolutePath());
        }
    }
}

InterruptedRun::File settle(const QString &folder, const QString &preparedName,
                            const QHash<quint64, QString> &namesByHash, bool productionInForce)
{
    const PreparedName prepared = *PreparedName::parse(preparedName);
    PreparedFile file;
    file.folder = systemName(folder);
    file.temporaryName = systemName(preparedName);
    // Two names of the folder with the same hash: neither may be taken for the other.
    const QString name = namesByHash.value(prepared.nameHash);
    InterruptedRun::File settled;
    settled.path = folder + u'/' + (name.isEmpty() ? preparedName : name);
    if (prepared.toProduction != productionInForce) {
        settled.fate = InterruptedRun::Fate::Removed;
    } else if (name.isEmpty()) {
        // The run had recorded the environment, and no file of the folder answers to the content
        // any more: it is the only copy of that file's new content there is, and it stays.
        settled.fate = InterruptedRun::Fate::NotSettled;
        return settled;
    } else if (preparedStampHash(fileStamp(settled.path)) == prepared.stampHash) {
        // Checked here against the hash: the prepared file knows no more of the file.
        file.name = systemName(name);
        settled.fate = putInPlace(file, &settled.write) == PlaceOutcome::Placed
                ? InterruptedRun::Fate::Placed
                : InterruptedRun::Fate::NotPlaced;
        return settled;
    } else {
        settled.fate = InterruptedRun::Fate::Changed;
    }
    settled.write = removePreparedFile(file);
    if (!settled.write)
        settled.fate = InterruptedRun::Fate::NotSettled;
    return settled;
}

} // namespace

qsizetype InterruptedRun::count(Fate fate) const
{
    return std::count_if(files.cbegin(), files.cend(),
                         [fate](const File &file) { return file.fate == fate; });
}

InterruptedRun settleInterruptedRun(const QString &mainDir, const QStringList &otherFolders,
                                    bool productionInForce)
{
    Scan scan;
    const QString top = QDir::fromNativeSeparators(mainDir);
    const QString topIdentity = fileIdentity(top);
    if (!topIdentity.isEmpty())
        scan.ancestors.insert(topIdentity);
    scanFolder(top, true, scan);
    for (const QString &folder : otherFolders)
        scanFolder(QDir::fromNativeSeparators(folder), false, scan);
    for (qsizetype i = 0; i < scan.linkedFolders.size(); ++i)
        scanFolder(scan.linkedFolders.at(i), false, scan);

    InterruptedRun run;
    QList<PreparedFile> settledFolders;
    for (auto it = scan.found.cbegin(); it != scan.found.cend(); ++it) {
        const QString folder = QDir::cleanPath(it.key());
        QHash<quint64, QString> namesByHash;
        QSet<quint64> repeated;
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System
                                                         | QDir::NoDotAndDotDot);
        for (const QString &name : names) {
            if (PreparedName::parse(name))
                continue;
            const quint64 hash = preparedNameHash(systemName(name));
            if (namesByHash.contains(hash))
                repeated.insert(hash);
            namesByHash.insert(hash, name);
        }
        for (const quint64 hash : std::as_const(repeated))
            namesByHash.remove(hash);
        for (const QString &preparedName : it.value())
            run.files.append(settle(folder, preparedName, namesByHash, productionInForce));
        PreparedFile inFolder;
        inFolder.folder = systemName(folder);
        settledFolders.append(inFolder);
    }
    flushFolders(settledFolders);
    std::sort(run.files.begin(), run.files.end(),
              [](const InterruptedRun::File &a, const InterruptedRun::File &b) {
                  return a.path < b.path;
              });
    return run;
}

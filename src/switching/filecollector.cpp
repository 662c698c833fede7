#include "switching/filecollector.h"

#include "switching/filesystem.h"
#include "switching/rewrite.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

struct Walk
{
    QList<QRegularExpression> namePatterns; // the files collected match one of them
    bool recurse = true;
    QStringList *fileList = nullptr;
    QStringList *unreadableDirectories = nullptr;
    std::function<void(qsizetype first)> listed;
    QStringList *preparedContents = nullptr;
    // The identities (see fileIdentity) of the directories on the way down to the one being
    // walked, that one included, so that a link back to any of them (or a folder mounted again
    // below itself) is not walked again.
    QSet<QString> ancestors;
};

bool matchesName(const Walk &walk, const QString &name)
{
    return std::any_of(
            walk.namePatterns.cbegin(), walk.namePatterns.cend(),
            [&](const QRegularExpression &pattern) { return pattern.match(name).hasMatch(); });
}

// directory ends with a slash. Only the top folder's path is read with backslashes as
// separators: below it, a backslash is part of a name (on Unix, where a folder may hold one).
void collectFilesIn(const QString &directory, Walk &walk)
{
    if (walk.unreadableDirectories && isUnreadableDirectory(directory)) {
        walk.unreadableDirectories->append(directory);
        return;
    }

    // One listing gives both the sub-directories (which the name patterns do not filter) and
    // the files, in name order ignoring case; each keeps that order.
    struct Entry
    {
        QString sortKey;
        FolderEntry entry;
    };
    QList<FolderEntry> listed;
    if (!listFolder(directory, listed) && walk.unreadableDirectories) {
        // Opened a moment ago, its listing failed all the same (too many open files, an
        // input/output error): said as a folder that could not be read, its files left as they
        // are.
        walk.unreadableDirectories->append(directory);
        return;
    }
    QList<Entry> entries;
    for (FolderEntry &entry : listed) {
        if (walk.preparedContents && !entry.isFolder && PreparedName::parse(entry.name))
            walk.preparedContents->append(directory + entry.name);
        if (entry.isFolder ? !walk.recurse : !matchesName(walk, entry.name))
            continue;
        QString sortKey = entry.name.toLower();
        entries.append({ std::move(sortKey), std::move(entry) });
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        const int byKey = a.sortKey.compare(b.sortKey);
        return byKey != 0 ? byKey < 0 : a.entry.name < b.entry.name;
    });

    for (const Entry &entry : std::as_const(entries)) {
        if (!entry.entry.isFolder)
            continue;
        const QString subDirectory = directory + entry.entry.name + u'/';
        const QString identity = fileIdentity(subDirectory);
        if (!identity.isEmpty()) {
            if (walk.ancestors.contains(identity))
                continue; // a link back up the tree: walking it would never end
            walk.ancestors.insert(identity);
        }
        collectFilesIn(subDirectory, walk);
        if (!identity.isEmpty())
            walk.ancestors.remove(identity);
    }

    const qsizetype first = walk.fileList->size();
    for (const Entry &entry : std::as_const(entries)) {
        // Only regular files are listed: reading a FIFO or a device may never end.
        if (!entry.entry.isFolder && !isTemporaryFileName(entry.entry.name))
            walk.fileList->append(directory + entry.entry.name);
    }
    if (walk.listed && walk.fileList->size() > first)
        walk.listed(first);
}

} // namespace

void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText,
                  QStringList *unreadableDirectories,
                  const std::function<void(qsizetype first)> &listed, QStringList *preparedContents)
{
    Walk walk;
    walk.listed = listed;
    walk.preparedContents = preparedContents;
    walk.recurse = recurse;
    walk.fileList = &fileList;
    walk.unreadableDirectories = unreadableDirectories;
    // File name patterns as the toolkit's folder listings read them: "*" and "?" wildcards and
    // "[...]" sets, case ignored. "**" matches what "*" matches: Qt's regular-expression engine
    // gives up on a run of many "*" (it backtracks through every way of sharing the name among
    // them) and then matches nothing: "*************c*" left out "config.ini".
    for (QString pattern : filterText.split(u';', Qt::KeepEmptyParts)) {
        while (pattern.contains(QLatin1String("**")))
            pattern.replace(QLatin1String("**"), QLatin1String("*"));
        walk.namePatterns.append(QRegularExpression::fromWildcard(pattern, Qt::CaseInsensitive));
    }
    QString top = directory;
    top.replace(u'\\', u'/');
    if (!top.endsWith(u'/'))
        top.append(u'/');
    const QString topIdentity = fileIdentity(top);
    if (!topIdentity.isEmpty())
        walk.ancestors.insert(topIdentity);
    collectFilesIn(top, walk);
}

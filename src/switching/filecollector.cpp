#include "switching/filecollector.h"

#include "switching/filesystem.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

// ancestors: the identities (see fileIdentity) of the directories on the way down to this one,
// this one included, so that a link back to any of them (or a folder mounted again below
// itself) is not walked again.
void collectFilesIn(QString directory, QStringList &fileList, bool recurse,
                    const QString &filterText, QSet<QString> &ancestors,
                    QStringList *unreadableDirectories)
{
    if (directory.contains(u'\\'))
        directory.replace(u'\\', u'/');
    if (!directory.endsWith(u'/'))
        directory.append(u'/');
    if (unreadableDirectories && isUnreadableDirectory(directory)) {
        unreadableDirectories->append(directory);
        return;
    }

    QStringList namePatterns = filterText.split(u';', Qt::KeepEmptyParts);
    // "**" matches what "*" matches. Qt's regular-expression engine gives up on a run of many
    // "*" (it backtracks through every way of sharing the name among them) and then matches
    // nothing: "*************c*" left out "config.ini".
    for (QString &pattern : namePatterns) {
        while (pattern.contains(QLatin1String("**")))
            pattern.replace(QLatin1String("**"), QLatin1String("*"));
    }
    QDir dir(directory);
    dir.setNameFilters(namePatterns);

    // One listing gives both the sub-directories (which the name patterns do not filter) and
    // the files, in name order ignoring case; each keeps that order.
    QDir::Filters filters = QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot;
    if (recurse)
        filters |= QDir::AllDirs;
    const QFileInfoList entries = dir.entryInfoList(filters, QDir::NoSort);

    if (recurse) {
        for (const QFileInfo &entry : entries) {
            if (!entry.isDir())
                continue;
            const QString subDirectory = directory + entry.fileName() + u'/';
            const QString identity = fileIdentity(subDirectory);
            if (!identity.isEmpty()) {
                if (ancestors.contains(identity))
                    continue; // a link back up the tree: walking it would never end
                ancestors.insert(identity);
            }
            collectFilesIn(subDirectory, fileList, true, filterText, ancestors,
                           unreadableDirectories);
            if (!identity.isEmpty())
                ancestors.remove(identity);
        }
    }

    for (const QFileInfo &entry : entries) {
        // QDir lists a link to a FIFO or a device among the files. Only regular files are
        // collected: reading a FIFO or a device may never end.
        if (entry.isFile() && !isTemporaryFileName(entry.fileName()))
            fileList.append(directory + entry.fileName());
    }
}

} // namespace

void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText,
                  QStringList *unreadableDirectories)
{
    QSet<QString> ancestors;
    QString top = directory;
    top.replace(u'\\', u'/');
    if (!top.endsWith(u'/'))
        top.append(u'/');
    const QString topIdentity = fileIdentity(top);
    if (!topIdentity.isEmpty())
        ancestors.insert(topIdentity);
    collectFilesIn(std::move(directory), fileList, recurse, filterText, ancestors,
                   unreadableDirectories);
}

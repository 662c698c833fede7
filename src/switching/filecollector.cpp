#include "switching/filecollector.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

// ancestors: canonical paths of the directories on the way down to this one, this one
// included, so that a link back to any of them is not walked again.
void collectFilesIn(QString directory, QStringList &fileList, bool recurse,
                    const QString &filterText, QSet<QString> &ancestors)
{
    if (directory.contains(u'\\'))
        directory.replace(u'\\', u'/');
    if (!directory.endsWith(u'/'))
        directory.append(u'/');

    const QStringList namePatterns = filterText.split(u';', Qt::KeepEmptyParts);
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
            const QString canonical = entry.canonicalFilePath();
            if (!canonical.isEmpty()) {
                if (ancestors.contains(canonical))
                    continue; // a link back up the tree: walking it would never end
                ancestors.insert(canonical);
            }
            collectFilesIn(subDirectory, fileList, true, filterText, ancestors);
            if (!canonical.isEmpty())
                ancestors.remove(canonical);
        }
    }

    for (const QFileInfo &entry : entries) {
        // QDir lists a link to a FIFO or a device among the files. Only regular files are
        // collected: reading a FIFO or a device may never end.
        if (entry.isFile())
            fileList.append(directory + entry.fileName());
    }
}

} // namespace

void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText)
{
    QSet<QString> ancestors;
    QString top = directory;
    top.replace(u'\\', u'/');
    if (!top.endsWith(u'/'))
        top.append(u'/');
    const QString canonicalTop = QFileInfo(top).canonicalFilePath();
    if (!canonicalTop.isEmpty())
        ancestors.insert(canonicalTop);
    collectFilesIn(std::move(directory), fileList, recurse, filterText, ancestors);
}

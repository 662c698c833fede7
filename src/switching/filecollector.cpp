#include "switching/filecollector.h"

#include "switching/filereader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Whether the directory's entries can be listed and reached. A directory that no longer exists
// is not unreadable: it has nothing left to switch.
bool isUnreadableDirectory(const QString &directory)
{
#ifdef Q_OS_UNIX
    // Opening "<directory>/." needs both the right to list and the right to go through.
    const int fd = ::open(QFile::encodeName(directory + u'.').constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno != ENOENT && errno != ENOTDIR;
#else
    const QFileInfo info(directory);
    return info.exists() && !info.isReadable();
#endif
}

// ancestors: canonical paths of the directories on the way down to this one, this one
// included, so that a link back to any of them is not walked again; canonicalDirectory: this
// one's, or empty when it has none.
void collectFilesIn(QString directory, QStringList &fileList, bool recurse,
                    const QString &filterText, QSet<QString> &ancestors,
                    const QString &canonicalDirectory, QStringList *unreadableDirectories)
{
    if (directory.contains(u'\\'))
        directory.replace(u'\\', u'/');
    if (!directory.endsWith(u'/'))
        directory.append(u'/');
    if (unreadableDirectories && isUnreadableDirectory(directory)) {
        unreadableDirectories->append(directory);
        return;
    }

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
            // Only a link needs the system to resolve it: asking for the canonical path of
            // every folder costs a look-up per level of the path, which grows with the cube of
            // the depth over a deep tree.
            const bool link = entry.isSymLink() || entry.isJunction();
            const QString canonical = link || canonicalDirectory.isEmpty()
                    ? entry.canonicalFilePath()
                    : (canonicalDirectory.endsWith(u'/') ? canonicalDirectory
                                                         : canonicalDirectory + u'/')
                            + entry.fileName();
            if (!canonical.isEmpty()) {
                if (ancestors.contains(canonical))
                    continue; // a link back up the tree: walking it would never end
                ancestors.insert(canonical);
            }
            collectFilesIn(subDirectory, fileList, true, filterText, ancestors, canonical,
                           unreadableDirectories);
            if (!canonical.isEmpty())
                ancestors.remove(canonical);
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
    const QString canonicalTop = QFileInfo(top).canonicalFilePath();
    if (!canonicalTop.isEmpty())
        ancestors.insert(canonicalTop);
    collectFilesIn(std::move(directory), fileList, recurse, filterText, ancestors, canonicalTop,
                   unreadableDirectories);
}

#include "files/filesystem.h"

#include <QFile>

QString FileStamp::identity() const
{
    if (!valid)
        return {};
    return QString::number(device) + u':' + QString::number(inode);
}

bool FileStamp::sameContent(const FileStamp &other) const
{
    return valid == other.valid && device == other.device && inode == other.inode
            && size == other.size && modified == other.modified;
}

bool FileStamp::operator==(const FileStamp &other) const
{
    return sameContent(other) && changed == other.changed;
}

bool FileStamp::changedRecently(qint64 when) const
{
    // File times come from a clock that may lag the real one by a tick (a few milliseconds).
    constexpr qint64 margin = 50 * 1000000;
    return !valid || changed >= when - margin || modified >= when - margin;
}

QString fileIdentity(const QString &path)
{
    return fileStamp(path).identity();
}

bool isMissingFile(const QString &path)
{
    return !isPathTooLong(path) && !QFile::exists(path);
}

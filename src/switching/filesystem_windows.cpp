// The file system as Windows offers it, through Qt.

#include "switching/filesystem.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

qint64 fileClockNow()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000;
}

FileStamp fileStamp(const QString &path)
{
    Q_UNUSED(path);
    return {}; // never trusted: a file read ahead is read again
}

QString fileIdentity(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

bool readFileBytes(const QString &path, QByteArray &bytes, FileStamp *stamp, qint64 maxSize)
{
    bytes.clear();
    if (stamp)
        *stamp = {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxSize)
        return false;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

bool isPathTooLong(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

bool isUnreadableDirectory(const QString &directory)
{
    const QFileInfo info(directory);
    return info.exists() && !info.isReadable();
}

QByteArray nativeLineTerminator()
{
    return QByteArrayLiteral("\r\n");
}

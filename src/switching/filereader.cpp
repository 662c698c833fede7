#include "switching/filereader.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX
namespace {

FileStamp stampOf(const struct stat &status)
{
    FileStamp stamp;
    stamp.valid = true;
    stamp.device = quint64(status.st_dev);
    stamp.inode = quint64(status.st_ino);
    stamp.size = qint64(status.st_size);
    stamp.modified = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp.changed = qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return stamp;
}

} // namespace
#endif

QString FileStamp::identity() const
{
    if (!valid)
        return {};
    return QString::number(device) + u':' + QString::number(inode);
}

bool FileStamp::operator==(const FileStamp &other) const
{
    return valid == other.valid && device == other.device && inode == other.inode
            && size == other.size && modified == other.modified && changed == other.changed;
}

bool FileStamp::changedRecently(qint64 when) const
{
    // File times come from a clock that may lag the real one by a tick (a few milliseconds).
    constexpr qint64 margin = 50 * 1000000;
    return !valid || changed >= when - margin || modified >= when - margin;
}

qint64 fileClockNow()
{
#ifdef Q_OS_UNIX
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
#else
    return QDateTime::currentMSecsSinceEpoch() * 1000000;
#endif
}

FileStamp fileStamp(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return stampOf(status);
#else
    Q_UNUSED(path);
    return {}; // never trusted: a file read ahead is read again
#endif
}

namespace {

bool readWhole(const QString &path, QByteArray &bytes, FileStamp *stamp,
               qint64 maxSize = std::numeric_limits<qint64>::max())
{
    bytes.clear();
#ifdef Q_OS_UNIX
    // The system calls themselves: a switch reads tens of thousands of small files, and QFile
    // asks for their size and state more than once each.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) || status.st_size > maxSize) {
        ::close(fd);
        return false;
    }
    if (stamp)
        *stamp = stampOf(status);
    // One byte more than the size, to see a file that grew since.
    qsizetype capacity = qsizetype(status.st_size) + 1;
    bytes.resize(capacity);
    qsizetype size = 0;
    bool ok = true;
    for (;;) {
        if (size == capacity) {
            capacity *= 2;
            bytes.resize(capacity);
        }
        const ssize_t got = ::read(fd, bytes.data() + size, size_t(capacity - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        size += got;
        // A stamped read is checked against the file's stamp before its bytes are used: a file
        // that grew since is read again then.
        if (stamp && size == status.st_size && size > 0)
            break;
    }
    ::close(fd);
    bytes.resize(ok ? size : 0);
    return ok;
#else
    if (stamp)
        *stamp = {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxSize)
        return false;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
#endif
}

} // namespace

bool readWholeFile(const QString &path, QByteArray &bytes)
{
    return readWhole(path, bytes, nullptr);
}

bool readWholeFileStamped(const QString &path, QByteArray &bytes, FileStamp &stamp,
                          qint64 maxSize)
{
    return readWhole(path, bytes, &stamp, maxSize);
}

QString fileIdentity(const QString &path)
{
#ifdef Q_OS_UNIX
    return fileStamp(path).identity();
#else
    return QFileInfo(path).canonicalFilePath();
#endif
}

bool isPathTooLong(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == ENAMETOOLONG;
#else
    Q_UNUSED(path);
    return false;
#endif
}

bool isTemporaryFileName(const QString &name)
{
    constexpr qsizetype prefixLength = sizeof(temporaryFilePrefix) - 1;
    if (name.size() != prefixLength + 6 || !name.startsWith(QLatin1String(temporaryFilePrefix)))
        return false;
    for (qsizetype i = prefixLength; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

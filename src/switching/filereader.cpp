#include "switching/filereader.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool readWholeFile(const QString &path, QByteArray &bytes)
{
    bytes.clear();
#ifdef Q_OS_UNIX
    // The system calls themselves: a switch reads tens of thousands of small files, and QFile
    // asks for their size and state more than once each.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(fd);
        return false;
    }
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
    }
    ::close(fd);
    bytes.resize(ok ? size : 0);
    return ok;
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
#endif
}

QString fileIdentity(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return QString::number(quint64(status.st_dev)) + u':' + QString::number(quint64(status.st_ino));
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

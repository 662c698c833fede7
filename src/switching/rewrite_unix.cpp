// The rewrite on Unix, through the system calls.
//
// The temporary file has a short name of its own and is reached through the folder's descriptor:
// a file whose name is already 255 bytes long, or whose path is close to PATH_MAX, can be
// rewritten as well as any other.

#include "switching/rewrite.h"

#include "switching/filesystem.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString WriteResult::reason() const
{
    return systemError == 0 ? QString() : QString::fromLocal8Bit(std::strerror(systemError));
}

namespace {

// The file that the path names, a link being followed to the file it names, as the system does:
// in bytes (a name need not be UTF-8), and a relative target taken from the link's own folder
// without tidying "..", which the system applies after following the links before it. Empty when
// the links go on for too long.
QByteArray fileNamedBy(QByteArray path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat status = {};
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path; // a file, or nothing yet: a link to nothing makes the file it names
        QByteArray target(qsizetype(status.st_size > 0 ? status.st_size : 256) + 1, '\0');
        const ssize_t size = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (size <= 0 || size >= target.size())
            return {};
        target.truncate(size);
        if (target.startsWith('/')) {
            path = target;
        } else {
            const qsizetype slash = path.lastIndexOf('/');
            path = slash < 0 ? target : path.left(slash + 1) + target;
        }
    }
    return {};
}

} // namespace

struct Rewrite::Private
{
    QString path;
    QByteArray name; // of the file to replace, in its folder
    QByteArray temporaryName; // while the temporary file exists
    int folder = -1;
    int fd = -1;
    struct stat original = {};
    bool hadFile = false;
    bool started = false;
    int error = 0; // errno of the first failure
    bool failed = false;

    void fail(int systemError = errno)
    {
        if (!failed)
            error = systemError;
        failed = true;
    }
    void start();
    void keepOwnerAndMode();
    void discard();
};

void Rewrite::Private::start()
{
    started = true;
    const QByteArray target = fileNamedBy(QFile::encodeName(path));
    if (target.isEmpty()) {
        fail(ELOOP);
        return;
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folderPath =
            slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : target.left(slash));
    name = slash < 0 ? target : target.sliced(slash + 1);
    folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        fail();
        return;
    }
    hadFile = ::fstatat(folder, name.constData(), &original, 0) == 0;
    if (!hadFile && errno != ENOENT) {
        fail(); // there may be a file there, out of reach: it is not replaced
        return;
    }
    // A file that cannot be opened for writing (read-only) stays as it is, although the
    // replacement would be allowed to put a new file in its place.
    if (hadFile) {
        const int probe = ::openat(folder, name.constData(), O_WRONLY | O_CLOEXEC);
        if (probe < 0) {
            fail();
            return;
        }
        ::close(probe);
    }
    // A new file gets the rights any new file of this process would get (umask, a folder's
    // default ACL); one that replaces a file gets that file's rights before it is in place.
    const mode_t mode = hadFile ? S_IRUSR | S_IWUSR : 0666;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        QByteArray temporary = temporaryFilePrefix;
        for (int i = 0; i < 6; ++i)
            temporary.append(letters[QRandomGenerator::global()->bounded(36)]);
        fd = ::openat(folder, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0)
            temporaryName = temporary;
        else if (errno != EEXIST)
            break;
    }
    if (fd < 0)
        fail();
}

// The new file gets the rights of the one it replaces and, as far as this process may, its owner
// and group (all of them when run by root, the group when the user belongs to it), so that the
// people and services that read or write the file still can. The set-id bits are only kept with
// the owner and group they were given with.
void Rewrite::Private::keepOwnerAndMode()
{
    struct stat replacement = {};
    if (::fstat(fd, &replacement) != 0) {
        fail();
        return;
    }
    if (replacement.st_uid != original.st_uid || replacement.st_gid != original.st_gid) {
        // Failing both, the file is the user's own, with the group it gets.
        if (::fchown(fd, original.st_uid, original.st_gid) != 0
            && replacement.st_gid != original.st_gid)
            ::fchown(fd, uid_t(-1), original.st_gid);
        if (::fstat(fd, &replacement) != 0) {
            fail();
            return;
        }
    }
    mode_t mode = original.st_mode & 07777;
    if (replacement.st_uid != original.st_uid || replacement.st_gid != original.st_gid)
        mode &= ~mode_t(S_ISUID | S_ISGID);
    if (::fchmod(fd, mode) != 0)
        fail();
}

void Rewrite::Private::discard()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!temporaryName.isEmpty() && folder >= 0) {
        ::unlinkat(folder, temporaryName.constData(), 0);
        temporaryName.clear();
    }
    if (folder >= 0) {
        ::close(folder);
        folder = -1;
    }
}

Rewrite::Rewrite(const QString &filePath) : d(std::make_unique<Private>())
{
    d->path = filePath;
}

Rewrite::~Rewrite()
{
    d->discard();
}

void Rewrite::write(QByteArrayView bytes)
{
    if (!d->started)
        d->start();
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (!d->failed && left > 0) {
        const ssize_t written = ::write(d->fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            d->fail(written < 0 ? errno : ENOSPC);
            break;
        }
        data += written;
        left -= written;
    }
}

WriteResult Rewrite::commit()
{
    if (!d->started)
        d->start(); // an empty content
    // Rights and owner first, so that they are on disk with the content.
    if (!d->failed && d->hadFile)
        d->keepOwnerAndMode();
    if (!d->failed && ::fsync(d->fd) != 0)
        d->fail();
    if (!d->failed) {
        const int closed = ::close(d->fd);
        d->fd = -1;
        if (closed != 0)
            d->fail();
    }
    if (!d->failed
        && ::renameat(d->folder, d->temporaryName.constData(), d->folder, d->name.constData()) != 0)
        d->fail();
    if (d->failed) {
        d->discard();
        return { false, d->error };
    }
    d->temporaryName.clear(); // in place: nothing to remove
    // The new name in the folder reaches the disk too. The file is in place whatever this says:
    // a failure here is no failure of the rewrite.
    ::fsync(d->folder);
    d->discard();
    return {};
}

// The rewrite on Unix, through the system calls.
//
// The temporary file has a name of its own (see PreparedName), never longer than a folder takes,
// and is reached through the folder's descriptor: a file whose name is already 255 bytes long, or
// whose path is close to PATH_MAX, can be rewritten as well as any other.

#include "files/rewrite_system.h"

#include "files/filestamp_unix.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

QString WriteResult::reason() const
{
    return systemError == 0 ? QString() : QString::fromLocal8Bit(std::strerror(systemError));
}

StorageFault WriteResult::fault() const
{
    if (done)
        return StorageFault::None;
    switch (systemError) {
    case EEXIST:
        return StorageFault::NameTaken;
    case ENOSPC:
        return StorageFault::Full;
    case EDQUOT:
        return StorageFault::QuotaReached;
    case EROFS:
        return StorageFault::ReadOnly;
    case EIO:
    case ENXIO:
    case ENODEV:
    case ESTALE:
    case ENOTCONN:
    case ECONNABORTED:
    case ECONNRESET:
    case ECONNREFUSED:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ETIMEDOUT:
    case ENOMEDIUM:
    case EREMOTEIO:
        return StorageFault::Unreachable;
    case EMFILE:
    case ENFILE:
        return StorageFault::TooManyFiles;
    default:
        return StorageFault::FileOnly;
    }
}

bool WriteResult::mayPass() const
{
    return fault() == StorageFault::Unreachable || systemError == EBUSY || systemError == ETXTBSY
            || systemError == EAGAIN || systemError == EINTR;
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

int openFolder(const QByteArray &folder)
{
    return ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A run keeps one descriptor open for each folder whose new contents it locks: as many as the
// system lets the process open, not the 1,024 that a session gives by default.
void allowManyOpenFiles()
{
    static std::once_flag raised;
    std::call_once(raised, [] {
        struct rlimit limit = {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            (void)::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
}

// Makes a folder's entries durable through its descriptor; 0 also where the file system does not
// flush folders.
int flushFolder(int folder)
{
    if (::fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS)
        return 0;
    return errno;
}

// Closes a descriptor when it goes.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

struct SystemRewrite::Private
{
    int folder = -1;
    int fd = -1;
    QByteArray temporaryName; // while the temporary file is this object's to remove
    struct stat original = {};
    bool hadFile = false;

    int keepOwnerAndMode();
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

SystemRewrite::SystemRewrite() : d(std::make_unique<Private>()) { }

SystemRewrite::~SystemRewrite()
{
    d->close();
    if (!d->temporaryName.isEmpty() && d->folder >= 0)
        ::unlinkat(d->folder, d->temporaryName.constData(), 0);
    if (d->folder >= 0)
        ::close(d->folder);
}

int SystemRewrite::locate(const QString &path, PreparedFile &prepared, QString &entryKey)
{
    const QByteArray target = fileNamedBy(QFile::encodeName(path));
    if (target.isEmpty())
        return ELOOP;
    const qsizetype slash = target.lastIndexOf('/');
    prepared.folder =
            slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : target.left(slash));
    prepared.name = slash < 0 ? target : target.sliced(slash + 1);
    d->folder = openFolder(prepared.folder);
    struct stat folderStatus = {};
    if (d->folder < 0 || ::fstat(d->folder, &folderStatus) != 0)
        return errno;
    prepared.device = quint64(folderStatus.st_dev);
    entryKey = QString::number(folderStatus.st_dev) + u':' + QString::number(folderStatus.st_ino)
            + u'/' + QString::fromLatin1(prepared.name.toHex());
    d->hadFile = ::fstatat(d->folder, prepared.name.constData(), &d->original, 0) == 0;
    prepared.hadFile = d->hadFile;
    const int error = d->hadFile || errno == ENOENT ? 0 : errno;
    // A run finds where many files go before it makes any: the folder is opened again then.
    ::close(d->folder);
    d->folder = -1;
    return error; // a file there, out of reach, is not replaced
}

int SystemRewrite::create(PreparedFile &prepared, bool lock, FileLock::Outcome &lockOutcome)
{
    if (d->folder < 0) {
        d->folder = openFolder(prepared.folder);
        if (d->folder < 0)
            return errno;
    }
    // A file that cannot be opened for writing (read-only) stays as it is, although the
    // replacement would be allowed to put a new file in its place.
    if (d->hadFile) {
        const int probe = ::openat(d->folder, prepared.name.constData(), O_WRONLY | O_CLOEXEC);
        if (probe < 0)
            return errno;
        ::close(probe);
    }
    // A new file gets the rights any new file of this process would get (umask, a folder's
    // default ACL); one that replaces a file gets that file's rights before it is in place.
    const mode_t mode = d->hadFile ? S_IRUSR | S_IWUSR : 0666;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    d->fd = ::openat(d->folder, prepared.temporaryName.constData(), flags, mode);
    if (d->fd < 0)
        return errno;
    d->temporaryName = prepared.temporaryName;
    if (!lock)
        return 0;
    // Locked before a byte is written, through a descriptor of its own that stays open once the
    // content is written and closed.
    allowManyOpenFiles();
    const int locking = ::fcntl(d->fd, F_DUPFD_CLOEXEC, 0);
    if (locking < 0)
        return errno;
    auto held = std::make_shared<FileLock>();
    lockOutcome = held->adopt(locking);
    if (lockOutcome == FileLock::Outcome::Held)
        return EAGAIN;
    if (lockOutcome == FileLock::Outcome::Locked)
        prepared.lock = std::move(held);
    return 0;
}

int SystemRewrite::write(QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(d->fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        data += written;
        left -= written;
    }
    return 0;
}

// The new file gets the rights of the one it replaces and, as far as this process may, its owner
// and group (all of them when run by root, the group when the user belongs to it), so that the
// people and services that read or write the file still can. The set-id bits are only kept with
// the owner and group they were given with.
int SystemRewrite::Private::keepOwnerAndMode()
{
    struct stat replacement = {};
    if (::fstat(fd, &replacement) != 0)
        return errno;
    if (replacement.st_uid != original.st_uid || replacement.st_gid != original.st_gid) {
        // Failing both, the file is the user's own, with the group it gets.
        if (::fchown(fd, original.st_uid, original.st_gid) != 0
            && replacement.st_gid != original.st_gid)
            (void)::fchown(fd, uid_t(-1), original.st_gid);
        if (::fstat(fd, &replacement) != 0)
            return errno;
    }
    mode_t mode = original.st_mode & 07777;
    if (replacement.st_uid != original.st_uid || replacement.st_gid != original.st_gid)
        mode &= ~mode_t(S_ISUID | S_ISGID);
    return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

int SystemRewrite::finish(const PreparedFile &prepared)
{
    Q_UNUSED(prepared);
    // Rights and owner first, so that they are on disk with the content.
    if (d->hadFile) {
        if (const int error = d->keepOwnerAndMode())
            return error;
    }
    const int closed = ::close(d->fd);
    d->fd = -1;
    if (closed != 0)
        return errno;
    d->temporaryName.clear(); // the caller's now
    return 0;
}

namespace {

// Whether one syncfs() makes every file of the file system that holds the folder durable, and says
// so when it fails: on the local file systems that keep a journal or write in place, from Linux
// 5.8 on (before, syncfs() gave no write error back). Network and FUSE file systems (CIFS, NFS,
// sshfs, ntfs-3g) may not pass it on to their storage, where fsync() of each file does.
bool flushedWhole(int folder)
{
    struct utsname system = {};
    if (::uname(&system) != 0)
        return false;
    int major = 0, minor = 0;
    if (std::sscanf(system.release, "%d.%d", &major, &minor) != 2
        || (major < 5 || (major == 5 && minor < 8)))
        return false;
    struct statfs status = {};
    if (::fstatfs(folder, &status) != 0)
        return false;
    switch (static_cast<unsigned long>(status.f_type)) {
    case 0xEF53: // ext2, ext3, ext4
    case 0x58465342: // XFS
    case 0x9123683E: // Btrfs
    case 0xF2F52010: // F2FS
    case 0x01021994: // tmpfs
        return true;
    default:
        return false;
    }
}

int flushEach(const QList<const PreparedFile *> &files)
{
    // The files and the folders that hold them (for their new names), many at once: on a share
    // each flush is a round trip, and a disk gets them together.
    QList<QByteArray> folders;
    QSet<QByteArray> seen;
    for (const PreparedFile *file : files) {
        if (!seen.contains(file->folder)) {
            seen.insert(file->folder);
            folders.append(file->folder);
        }
    }
    return runFlushes(files.size() + folders.size(), 48, [&](qsizetype i) {
        if (i >= files.size()) {
            const Descriptor folder(openFolder(folders.at(i - files.size())));
            return folder.get() < 0 ? errno : flushFolder(folder.get());
        }
        const Descriptor folder(openFolder(files.at(i)->folder));
        const Descriptor file(folder.get() < 0 ? -1
                                               : ::openat(folder.get(),
                                                          files.at(i)->temporaryName.constData(),
                                                          O_RDONLY | O_CLOEXEC));
        return file.get() < 0 || ::fsync(file.get()) != 0 ? errno : 0;
    });
}

} // namespace

int flushSystemFiles(const QList<PreparedFile> &files)
{
    // Where it can, one flush of each file system that holds prepared files: its journal is
    // written once for all of them, where a flush of each file writes it once per file.
    QHash<quint64, bool> whole; // by device: flushed whole, or to be flushed file by file
    QList<const PreparedFile *> oneByOne;
    for (const PreparedFile &file : files) {
        auto known = whole.constFind(file.device);
        if (known == whole.cend()) {
            const Descriptor folder(openFolder(file.folder));
            if (folder.get() < 0)
                return errno;
            const bool flushWhole = flushedWhole(folder.get());
            if (flushWhole && ::syncfs(folder.get()) != 0)
                return errno;
            known = whole.insert(file.device, flushWhole);
        }
        if (!*known)
            oneByOne.append(&file);
    }
    return flushEach(oneByOne);
}

namespace {

// The folder of the last file put in place, kept open for the next ones: a run puts its files in
// place folder by folder, in quick succession. Let go by the flush of folders that follows.
struct PlacingFolder
{
    QByteArray path;
    int fd = -1;

    int open(const QByteArray &folder)
    {
        if (fd >= 0 && path == folder)
            return fd;
        release();
        fd = openFolder(folder);
        if (fd >= 0)
            path = folder;
        return fd;
    }
    void release()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        path.clear();
    }
    ~PlacingFolder() { release(); }
};
thread_local PlacingFolder placingFolder;

} // namespace

PlaceOutcome placeSystemFile(const PreparedFile &file, int &error)
{
    error = 0;
    const int folder = placingFolder.open(file.folder);
    if (folder < 0) {
        error = errno;
        return PlaceOutcome::Failed;
    }
    if (file.basis.valid) {
        struct stat now = {};
        const bool there = ::fstatat(folder, file.name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(now.st_mode);
        const FileStamp current = there ? stampOf(now) : FileStamp();
        if (!current.sameContent(file.basis)) {
            ::unlinkat(folder, file.temporaryName.constData(), 0);
            return PlaceOutcome::Changed;
        }
        // Rights or owner given to the file since its content was prepared go with the content
        // (a change of them changes the file's change time).
        struct stat prepared = {};
        if (current.changed != file.basis.changed
            && ::fstatat(folder, file.temporaryName.constData(), &prepared, AT_SYMLINK_NOFOLLOW)
                    == 0
            && (prepared.st_mode != now.st_mode || prepared.st_uid != now.st_uid
                || prepared.st_gid != now.st_gid)) {
            mode_t mode = now.st_mode & 07777;
            if ((prepared.st_uid != now.st_uid || prepared.st_gid != now.st_gid)
                && ::fchownat(folder, file.temporaryName.constData(), now.st_uid, now.st_gid,
                              AT_SYMLINK_NOFOLLOW)
                        != 0)
                mode &= ~mode_t(S_ISUID | S_ISGID); // kept only with their owner and group
            (void)::fchmodat(folder, file.temporaryName.constData(), mode, 0);
        }
    }
    // Should the system refuse, the prepared content stays beside the file: it is durable, and
    // the next run or start puts it in place.
    if (::renameat(folder, file.temporaryName.constData(), folder, file.name.constData()) != 0) {
        error = errno;
        return PlaceOutcome::Failed;
    }
    return PlaceOutcome::Placed;
}

int flushSystemFolder(const QByteArray &folder)
{
    placingFolder.release();
    const Descriptor descriptor(openFolder(folder));
    return descriptor.get() < 0 ? errno : flushFolder(descriptor.get());
}

int removeSystemFile(const PreparedFile &file)
{
    const Descriptor folder(openFolder(file.folder));
    if (folder.get() < 0)
        return errno;
    if (::unlinkat(folder.get(), file.temporaryName.constData(), 0) != 0 && errno != ENOENT)
        return errno;
    return 0;
}

// The file system as Unix offers it: the system calls themselves.

#include "files/filesystem.h"

#include "files/filestamp_unix.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

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

qint64 fileClockNow()
{
    // The system clock is the one the file times come from.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

namespace {

// Reads the open file on to its end after the bytes already read, which bytes holds, with room
// for the size the file is expected to have and one byte more, to see a file that grew since.
// With stopAt, the reading stops once it has that many bytes; past maxSize, it fails. False when
// reading fails; bytes then hold nothing.
bool readToEnd(int fd, QByteArray &bytes, qint64 expected, qint64 stopAt, qint64 maxSize)
{
    qsizetype size = bytes.size();
    qsizetype capacity = qMax<qsizetype>(qsizetype(expected), size) + 1;
    bytes.resize(capacity);
    bool ok = true;
    for (;;) {
        if (size == capacity) {
            capacity *= 2;
            bytes.resize(capacity);
        }
        const ssize_t got = ::read(fd, bytes.data() + size, size_t(capacity - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        size += got;
        if (size > maxSize) {
            ok = false;
            break;
        }
        if (size == stopAt && size > 0)
            break;
    }
    bytes.resize(ok ? size : 0);
    return ok;
}

} // namespace

FileStamp fileStamp(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return stampOf(status);
}

bool readFileBytes(const QString &path, QByteArray &bytes, FileStamp *stamp, qint64 maxSize)
{
    bytes.clear();
    // The system calls themselves: a switch reads tens of thousands of small files, and QFile
    // asks for their size and state more than once each.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) || status.st_size > maxSize) {
        ::close(fd);
        return false;
    }
    if (stamp)
        *stamp = stampOf(status);
    // A stamped read is checked against the file's stamp before its bytes are used: a file that
    // grew since is read again then.
    const bool ok = readToEnd(fd, bytes, status.st_size, stamp ? status.st_size : -1,
                              std::numeric_limits<qint64>::max());
    ::close(fd);
    return ok;
}

namespace {

// The folder of the files a thread reads, kept at hand from one file to the next (the files of a
// folder come one after the other): each file is then opened by its name in it, which on a file
// share spares looking up every folder of its path again. Opened for that alone (O_PATH).
struct ReadingFolder
{
    QByteArray path;
    int fd = -1;
    ~ReadingFolder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
thread_local ReadingFolder readingFolder;

int openToRead(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    const QByteArrayView folder(path.constData(), slash);
    if (readingFolder.path != folder) {
        if (readingFolder.fd >= 0)
            ::close(readingFolder.fd);
        readingFolder.path = folder.toByteArray();
        readingFolder.fd = ::open(readingFolder.path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (readingFolder.fd < 0)
        return ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return ::openat(readingFolder.fd, path.constData() + slash + 1, O_RDONLY | O_CLOEXEC);
}

} // namespace

bool readFileThenStamp(const QString &path, QByteArray &bytes, FileStamp &stamp, qint64 maxSize)
{
    bytes.clear();
    stamp = {};
    const int fd = openToRead(QFile::encodeName(path));
    if (fd < 0)
        return false;
    // Most files of a tree come whole in one read: the stamp taken after it tells whether they
    // did, which spares asking the system for the size before reading.
    char chunk[64 * 1024];
    ssize_t got;
    do {
        got = ::read(fd, chunk, sizeof chunk);
    } while (got < 0 && errno == EINTR);
    struct stat status = {};
    if (got < 0 || ::fstat(fd, &status) != 0 || status.st_size > maxSize) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    bytes = QByteArray(chunk, qsizetype(got));
    if (size_t(got) == sizeof chunk || got != status.st_size) {
        // Read on to the end, then stamp again: the stamp must say these bytes, and a file still
        // being written has grown since.
        ok = readToEnd(fd, bytes, status.st_size, -1, maxSize) && ::fstat(fd, &status) == 0
                && status.st_size == bytes.size();
    }
    ::close(fd);
    if (!ok) {
        bytes.clear();
        return false;
    }
    stamp = stampOf(status);
    return true;
}

QString folderPathFromSettings(const QString &path)
{
    return QString(path).replace(u'\\', u'/');
}

bool isPathTooLong(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == ENAMETOOLONG;
}

namespace {

// Lists the folder open as fd, which the stream then owns. The listing says what most entries are;
// only links (and entries of file systems that do not say) are asked for what they lead to.
bool listOpenFolder(int fd, QList<FolderEntry> &entries, bool everyEntry)
{
    entries.clear();
    DIR *stream = ::fdopendir(fd);
    if (!stream) {
        ::close(fd);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(stream);
        if (!entry)
            break;
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        FolderEntry::Kind kind = FolderEntry::Other;
        bool isLink = entry->d_type == DT_LNK;
        if (entry->d_type == DT_DIR) {
            kind = FolderEntry::Folder;
        } else if (entry->d_type == DT_REG) {
            kind = FolderEntry::File;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status = {};
            if (everyEntry && entry->d_type == DT_UNKNOWN
                && ::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0)
                isLink = S_ISLNK(status.st_mode);
            if (::fstatat(fd, name, &status, 0) == 0) {
                if (S_ISREG(status.st_mode))
                    kind = FolderEntry::File;
                else if (S_ISDIR(status.st_mode))
                    kind = FolderEntry::Folder;
            }
        }
        if (kind == FolderEntry::Other && !everyEntry)
            continue;
        // A name that is not text in the system's encoding could not be opened again from its
        // decoded form: left out, as the toolkit's listings leave it out.
        QString decoded = QFile::decodeName(name);
        if (QFile::encodeName(decoded) != name)
            continue;
        entries.append({ std::move(decoded), kind, everyEntry && isLink });
    }
    const bool listed = errno == 0;
    ::closedir(stream);
    return listed;
}

} // namespace

FolderContents readFolder(const QString &directory, bool checkReadable, bool everyEntry)
{
    FolderContents contents;
    const int fd =
            ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        // A folder that is no longer there lists nothing; one that is there out of reach is said.
        contents.unreadable = checkReadable && errno != ENOENT && errno != ENOTDIR;
        if (errno == EACCES || errno == EPERM)
            contents.identity = fileIdentity(directory);
        return contents;
    }
    struct stat status = {};
    if (::fstat(fd, &status) == 0)
        contents.identity = QString::number(status.st_dev) + u':' + QString::number(status.st_ino);
    // Going through it (to reach its files) needs a right of its own: "." is looked up in it.
    if (checkReadable && ::fstatat(fd, ".", &status, 0) != 0) {
        contents.unreadable = true;
        ::close(fd);
        return contents;
    }
    contents.listed = listOpenFolder(fd, contents.entries, everyEntry);
    contents.unreadable = checkReadable && !contents.listed;
    return contents;
}

QByteArray systemName(const QString &name)
{
    return QFile::encodeName(name);
}

QString nameFromSystem(const QByteArray &name)
{
    return QFile::decodeName(name);
}

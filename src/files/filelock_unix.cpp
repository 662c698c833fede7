// The lock on Unix: an open file description lock (fcntl F_OFD_SETLK), which belongs to the open
// file and not to the process, so that a read of the same file elsewhere in the program (which
// opens and closes it) never lets it go, and two windows of one process exclude each other. NFS
// passes it to the server's lock manager, and the Linux SMB client to the server as a byte-range
// lock.

#include "files/filelock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr off_t lockedByte = off_t(1) << 62;

struct flock lockedRange(short type)
{
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = lockedByte;
    range.l_len = 1;
    return range;
}

} // namespace

FileLock::Outcome FileLock::lock(const QString &path)
{
    release();
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: a FIFO or a device under such a name is opened without waiting.
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0)
        return adopt(fd);
    // A file this process may not write cannot be locked, but whether another holds it can be
    // told all the same.
    return heldElsewhere(path) ? Outcome::Held : Outcome::Failed;
}

bool FileLock::heldElsewhere(const QString &path)
{
    const int reader = ::open(QFile::encodeName(path).constData(),
                              O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (reader < 0)
        return false;
    struct flock range = lockedRange(F_WRLCK);
    const bool held = ::fcntl(reader, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
    ::close(reader);
    return held;
}

FileLock::Outcome FileLock::adopt(qintptr handle)
{
    release();
    const int fd = int(handle);
    struct flock range = lockedRange(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &range) == 0) {
        m_handle = fd;
        return Outcome::Locked;
    }
    const bool held = errno == EAGAIN || errno == EACCES;
    ::close(fd);
    return held ? Outcome::Held : Outcome::Failed;
}

void FileLock::release()
{
    if (m_handle != none)
        ::close(int(m_handle));
    m_handle = none;
}

// The helpers that need the system's own calls, on Linux: capabilities, the file-size limit,
// FIFOs, links, names in bytes.

#include "testfiles.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool capabilities(bool set, __user_cap_data_struct *data)
{
    __user_cap_header_struct header{ _LINUX_CAPABILITY_VERSION_3, 0 };
    return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

PermissionsEnforced::PermissionsEnforced()
{
    if (geteuid() != 0) {
        m_enforced = true;
        return;
    }
    __user_cap_data_struct data[2] = {};
    if (!capabilities(false, data))
        return;
    m_saved[0] = data[0].effective;
    m_saved[1] = data[1].effective;
    data[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    m_dropped = capabilities(true, data);
    m_enforced = m_dropped;
}

PermissionsEnforced::~PermissionsEnforced()
{
    if (!m_dropped)
        return;
    __user_cap_data_struct data[2] = {};
    capabilities(false, data);
    data[0].effective = m_saved[0];
    data[1].effective = m_saved[1];
    if (!capabilities(true, data))
        qFatal("cannot give the file capabilities back");
}

FileSizeLimit::FileSizeLimit(qint64 maxBytes)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    m_savedSoft = limit.rlim_cur;
    m_savedHard = limit.rlim_max;
    // Past the limit the system sends SIGXFSZ, which would end the process: the write must
    // fail with EFBIG instead, as it does on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = static_cast<rlim_t>(maxBytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (!m_active)
        return;
    rlimit limit{ static_cast<rlim_t>(m_savedSoft), static_cast<rlim_t>(m_savedHard) };
    setrlimit(RLIMIT_FSIZE, &limit);
}

// The calls that FailingCalls makes fail: the test program's own definitions come before the C
// library's, which they call when nothing is to fail.
namespace {

std::atomic<int> failingCalls{ 0 };
char failingName[256] = {};

// Whether the path of the folder open as fd ends with the failing name (any folder when none).
bool failingFolder(int fd)
{
    if (failingName[0] == 0)
        return true;
    char path[4096];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t size = ::readlink(link.constData(), path, sizeof path);
    return size > 0 && QByteArray(path, size).endsWith(failingName);
}

template<typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    struct stat status = {};
    if ((failingCalls & FailingCalls::FolderFlush) && ::fstat(fd, &status) == 0
        && S_ISDIR(status.st_mode) && failingFolder(fd)) {
        errno = EIO;
        return -1;
    }
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int syncfs(int fd)
{
    if (failingCalls & FailingCalls::FileSystemFlush) {
        errno = EIO;
        return -1;
    }
    static const auto real = next<int (*)(int)>("syncfs");
    return real(fd);
}

extern "C" int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    if ((failingCalls & FailingCalls::Rename) && std::strcmp(to, failingName) == 0) {
        errno = EIO;
        return -1;
    }
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    return real(fromFolder, from, toFolder, to);
}

FailingCalls::FailingCalls(int calls, const QByteArray &name)
{
    qstrncpy(failingName, name.constData(), sizeof failingName);
    failingCalls = calls;
    m_active = true;
}

FailingCalls::~FailingCalls()
{
    failingCalls = 0;
}

bool fifosExist()
{
    return true;
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool symbolicLinksArePosix()
{
    return true;
}

bool makeHardLink(const QString &existing, const QString &newPath)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(newPath).constData())
            == 0;
}

bool writeBytesNamed(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

QByteArray readBytesNamed(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return QByteArray("<cannot read>");
    QByteArray bytes;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, qsizetype(got));
    ::close(fd);
    return bytes;
}

bool makeSymbolicLinkNamed(const QByteArray &target, const QByteArray &linkPath)
{
    return ::symlink(target.constData(), linkPath.constData()) == 0;
}

QList<QByteArray> rawEntriesOf(const QByteArray &folder)
{
    QList<QByteArray> names;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

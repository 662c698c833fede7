// sharefs: a folder seen as if it lay on a slow file share. It mirrors SOURCE at MOUNTPOINT (a
// FUSE passthrough, libfuse3's low-level interface) and answers each request only after a set
// delay, on many threads at once, with the kernel's caches of names and attributes off: every
// stat, open, read and listing goes to the file system, as on an SMB share without leases.
//
//   sharefs SOURCE MOUNTPOINT [-f] [-o delay_us=N,threads=N,stats]
//
//   delay_us=N  the delay added to every request that the kernel waits for (default 500)
//   threads=N   requests served at once, each waiting its delay (default 64)
//   stats       at unmount, print on standard error how many requests of each kind were served
//               and how many waited at once at most; SIGUSR1 prints the same so far (the most at
//               once since the previous print), so that a part of a run can be told apart
//
// With -f it stays in the foreground and prints "ready" on standard output once mounted.
// "fusermount3 -u MOUNTPOINT" (or umount) ends it. Files and folders it creates belong to the
// user who runs it.
//
// Byte-range and flock locks are not passed on: the kernel keeps them on the mount, so they hold
// between the programs of this machine (F_OFD_SETLK included), and cost no request.

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

enum Kind {
    Lookup,
    Forget,
    Getattr,
    Setattr,
    Readlink,
    Mknod,
    Mkdir,
    Unlink,
    Rmdir,
    Symlink,
    Rename,
    Link,
    Open,
    Read,
    Write,
    Flush,
    Release,
    Fsync,
    Opendir,
    Readdir,
    Releasedir,
    Fsyncdir,
    Statfs,
    Access,
    Create,
    Fallocate,
    KindCount
};

const char *const kindNames[KindCount] = {
    "lookup",   "forget", "getattr", "setattr", "readlink",  "mknod",   "mkdir",
    "unlink",   "rmdir",  "symlink", "rename",  "link",      "open",    "read",
    "write",    "flush",  "release", "fsync",   "opendir",   "readdir", "releasedir",
    "fsyncdir", "statfs", "access",  "create",  "fallocate",
};

// A file or folder the kernel knows, held by an O_PATH descriptor; its node id is its address.
struct Inode
{
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t lookups = 0; // under Share::mutex
};

// An open folder: its listing and where the kernel stands in it.
struct DirHandle
{
    DIR *dir = nullptr;
    off_t offset = 0;
    dirent *entry = nullptr; // read but not yet handed over
};

struct Options
{
    unsigned delayUs = 500;
    unsigned threads = 64;
    int stats = 0;
    const char *source = nullptr;
};

struct Share
{
    Options options;
    Inode root;
    std::mutex mutex;
    std::map<std::pair<dev_t, ino_t>, Inode *> inodes;
    std::atomic<unsigned long long> counts[KindCount] = {};
    std::atomic<int> inFlight{ 0 };
    std::atomic<int> maxInFlight{ 0 };
};

Share share;

// Counts a request and waits its delay; while it lives, the request counts as in flight.
class Request
{
public:
    explicit Request(Kind kind)
    {
        share.counts[kind].fetch_add(1, std::memory_order_relaxed);
        const int now = share.inFlight.fetch_add(1) + 1;
        int seen = share.maxInFlight.load();
        while (now > seen && !share.maxInFlight.compare_exchange_weak(seen, now)) { }
        if (share.options.delayUs == 0)
            return;
        std::this_thread::sleep_until(std::chrono::steady_clock::now()
                                      + std::chrono::microseconds(share.options.delayUs));
    }
    ~Request() { share.inFlight.fetch_sub(1); }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;
};

Inode *inodeOf(fuse_ino_t ino)
{
    return ino == FUSE_ROOT_ID ? &share.root : reinterpret_cast<Inode *>(ino);
}

int parentFd(fuse_ino_t parent)
{
    return inodeOf(parent)->fd;
}

// The path through which an O_PATH descriptor's file is opened, changed or linked.
std::string procPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

void replyResult(fuse_req_t req, int result)
{
    fuse_reply_err(req, result < 0 ? errno : 0);
}

// Looks name up in parent and counts one more lookup of what it finds; 0 or an errno value.
int makeEntry(fuse_ino_t parent, const char *name, fuse_entry_param *entry)
{
    std::memset(entry, 0, sizeof *entry);
    const int fd = openat(parentFd(parent), name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (fstatat(fd, "", &entry->attr, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) < 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    Inode *inode = nullptr;
    {
        const std::lock_guard<std::mutex> lock(share.mutex);
        auto found = share.inodes.find({ entry->attr.st_dev, entry->attr.st_ino });
        if (found != share.inodes.end()) {
            inode = found->second;
            ++inode->lookups;
        } else {
            inode = new Inode;
            inode->fd = fd;
            inode->dev = entry->attr.st_dev;
            inode->ino = entry->attr.st_ino;
            inode->lookups = 1;
            share.inodes.emplace(std::make_pair(inode->dev, inode->ino), inode);
        }
    }
    if (inode->fd != fd)
        close(fd);
    entry->ino = reinterpret_cast<fuse_ino_t>(inode);
    entry->attr_timeout = 0;
    entry->entry_timeout = 0;
    return 0;
}

void replyEntry(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    fuse_entry_param entry;
    const int error = makeEntry(parent, name, &entry);
    if (error)
        fuse_reply_err(req, error);
    else
        fuse_reply_entry(req, &entry);
}

void forgetOne(fuse_ino_t ino, uint64_t count)
{
    Inode *inode = inodeOf(ino);
    if (inode == &share.root)
        return;
    const std::lock_guard<std::mutex> lock(share.mutex);
    if (inode->lookups > count) {
        inode->lookups -= count;
        return;
    }
    share.inodes.erase({ inode->dev, inode->ino });
    close(inode->fd);
    delete inode;
}

void replyAttr(fuse_req_t req, int fd, bool pathOnly)
{
    struct stat attr;
    const int result = pathOnly ? fstatat(fd, "", &attr, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW)
                                : fstat(fd, &attr);
    if (result < 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_attr(req, &attr, 0);
}

void doInit(void *, fuse_conn_info *conn)
{
    // Reads ahead of a reader and writes back are requests too: let as many wait at once.
    conn->max_background = static_cast<unsigned>(share.options.threads);
    conn->congestion_threshold = conn->max_background * 3 / 4;
    conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;
    conn->want &= ~FUSE_CAP_CACHE_SYMLINKS;
}

void doLookup(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    const Request request(Lookup);
    replyEntry(req, parent, name);
}

// Forgets are not answered: nothing waits for them, so they are counted but not delayed.
void doForget(fuse_req_t req, fuse_ino_t ino, uint64_t count)
{
    share.counts[Forget].fetch_add(1, std::memory_order_relaxed);
    forgetOne(ino, count);
    fuse_reply_none(req);
}

void doForgetMulti(fuse_req_t req, size_t count, fuse_forget_data *forgets)
{
    share.counts[Forget].fetch_add(1, std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i)
        forgetOne(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void doGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    const Request request(Getattr);
    // The kernel hands a file handle only for regular files, whose handle is a descriptor.
    if (fi)
        replyAttr(req, static_cast<int>(fi->fh), false);
    else
        replyAttr(req, inodeOf(ino)->fd, true);
}

void doSetattr(fuse_req_t req, fuse_ino_t ino, struct stat *attr, int valid, fuse_file_info *fi)
{
    const Request request(Setattr);
    Inode *inode = inodeOf(ino);
    const std::string path = procPath(inode->fd);
    const int fd = fi ? static_cast<int>(fi->fh) : -1;
    int result = 0;
    if (valid & FUSE_SET_ATTR_MODE)
        result = fd >= 0 ? fchmod(fd, attr->st_mode) : chmod(path.c_str(), attr->st_mode);
    if (result == 0 && (valid & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID))) {
        const uid_t uid = (valid & FUSE_SET_ATTR_UID) ? attr->st_uid : static_cast<uid_t>(-1);
        const gid_t gid = (valid & FUSE_SET_ATTR_GID) ? attr->st_gid : static_cast<gid_t>(-1);
        result = fchownat(inode->fd, "", uid, gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
    }
    if (result == 0 && (valid & FUSE_SET_ATTR_SIZE))
        result = fd >= 0 ? ftruncate(fd, attr->st_size) : truncate(path.c_str(), attr->st_size);
    if (result == 0 && (valid & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME))) {
        decltype(attr->st_atim) times[2];
        times[0].tv_sec = times[1].tv_sec = 0;
        times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
        if (valid & FUSE_SET_ATTR_ATIME_NOW)
            times[0].tv_nsec = UTIME_NOW;
        else if (valid & FUSE_SET_ATTR_ATIME)
            times[0] = attr->st_atim;
        if (valid & FUSE_SET_ATTR_MTIME_NOW)
            times[1].tv_nsec = UTIME_NOW;
        else if (valid & FUSE_SET_ATTR_MTIME)
            times[1] = attr->st_mtim;
        result = fd >= 0 ? futimens(fd, times) : utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    if (result < 0)
        fuse_reply_err(req, errno);
    else if (fd >= 0)
        replyAttr(req, fd, false);
    else
        replyAttr(req, inode->fd, true);
}

void doReadlink(fuse_req_t req, fuse_ino_t ino)
{
    const Request request(Readlink);
    char target[PATH_MAX + 1];
    const ssize_t size = readlinkat(inodeOf(ino)->fd, "", target, sizeof target);
    if (size < 0) {
        fuse_reply_err(req, errno);
    } else if (size == static_cast<ssize_t>(sizeof target)) {
        fuse_reply_err(req, ENAMETOOLONG);
    } else {
        target[size] = '\0';
        fuse_reply_readlink(req, target);
    }
}

void doMknod(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode, dev_t rdev)
{
    const Request request(Mknod);
    if (mknodat(parentFd(parent), name, mode, rdev) < 0)
        fuse_reply_err(req, errno);
    else
        replyEntry(req, parent, name);
}

void doMkdir(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode)
{
    const Request request(Mkdir);
    if (mkdirat(parentFd(parent), name, mode) < 0)
        fuse_reply_err(req, errno);
    else
        replyEntry(req, parent, name);
}

void doSymlink(fuse_req_t req, const char *link, fuse_ino_t parent, const char *name)
{
    const Request request(Symlink);
    if (symlinkat(link, parentFd(parent), name) < 0)
        fuse_reply_err(req, errno);
    else
        replyEntry(req, parent, name);
}

void doLink(fuse_req_t req, fuse_ino_t ino, fuse_ino_t newParent, const char *newName)
{
    const Request request(Link);
    if (linkat(AT_FDCWD, procPath(inodeOf(ino)->fd).c_str(), parentFd(newParent), newName,
               AT_SYMLINK_FOLLOW)
        < 0)
        fuse_reply_err(req, errno);
    else
        replyEntry(req, newParent, newName);
}

void doUnlink(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    const Request request(Unlink);
    replyResult(req, unlinkat(parentFd(parent), name, 0));
}

void doRmdir(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    const Request request(Rmdir);
    replyResult(req, unlinkat(parentFd(parent), name, AT_REMOVEDIR));
}

void doRename(fuse_req_t req, fuse_ino_t parent, const char *name, fuse_ino_t newParent,
              const char *newName, unsigned int flags)
{
    const Request request(Rename);
    replyResult(req, renameat2(parentFd(parent), name, parentFd(newParent), newName, flags));
}

void doOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    const Request request(Open);
    const int fd = open(procPath(inodeOf(ino)->fd).c_str(), (fi->flags & ~O_NOFOLLOW) | O_CLOEXEC);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fi->fh = static_cast<uint64_t>(fd);
    fi->keep_cache = 0; // what the kernel holds of the file is dropped at each open
    fi->direct_io = 0;
    fuse_reply_open(req, fi);
}

void doCreate(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode, fuse_file_info *fi)
{
    const Request request(Create);
    const int fd =
            openat(parentFd(parent), name, (fi->flags | O_CREAT | O_CLOEXEC) & ~O_NOFOLLOW, mode);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param entry;
    const int error = makeEntry(parent, name, &entry);
    if (error) {
        close(fd);
        fuse_reply_err(req, error);
        return;
    }
    fi->fh = static_cast<uint64_t>(fd);
    fi->keep_cache = 0;
    fi->direct_io = 0;
    fuse_reply_create(req, &entry, fi);
}

void doRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info *fi)
{
    const Request request(Read);
    std::vector<char> bytes(size);
    const ssize_t read = pread(static_cast<int>(fi->fh), bytes.data(), size, offset);
    if (read < 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_buf(req, bytes.data(), static_cast<size_t>(read));
}

void doWrite(fuse_req_t req, fuse_ino_t, const char *bytes, size_t size, off_t offset,
             fuse_file_info *fi)
{
    const Request request(Write);
    const ssize_t written = pwrite(static_cast<int>(fi->fh), bytes, size, offset);
    if (written < 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_write(req, static_cast<size_t>(written));
}

void doFlush(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    const Request request(Flush);
    replyResult(req, close(dup(static_cast<int>(fi->fh))));
}

void doRelease(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    const Request request(Release);
    close(static_cast<int>(fi->fh));
    fuse_reply_err(req, 0);
}

void doFsync(fuse_req_t req, fuse_ino_t, int datasync, fuse_file_info *fi)
{
    const Request request(Fsync);
    const int fd = static_cast<int>(fi->fh);
    replyResult(req, datasync ? fdatasync(fd) : fsync(fd));
}

DirHandle *dirHandle(fuse_file_info *fi)
{
    return reinterpret_cast<DirHandle *>(fi->fh);
}

void doOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    const Request request(Opendir);
    const int fd = openat(inodeOf(ino)->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        fuse_reply_err(req, error);
        return;
    }
    auto *handle = new DirHandle;
    handle->dir = dir;
    fi->fh = reinterpret_cast<uint64_t>(handle);
    fi->keep_cache = 0;
    fi->cache_readdir = 0;
    fuse_reply_open(req, fi);
}

void doReaddir(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info *fi)
{
    const Request request(Readdir);
    DirHandle *handle = dirHandle(fi);
    if (offset != handle->offset) {
        seekdir(handle->dir, offset);
        handle->entry = nullptr;
        handle->offset = offset;
    }
    std::vector<char> bytes(size);
    size_t used = 0;
    for (;;) {
        if (!handle->entry) {
            errno = 0;
            handle->entry = readdir(handle->dir);
            if (!handle->entry) {
                if (errno && used == 0) {
                    fuse_reply_err(req, errno);
                    return;
                }
                break;
            }
        }
        struct stat attr;
        std::memset(&attr, 0, sizeof attr);
        attr.st_ino = handle->entry->d_ino;
        attr.st_mode = static_cast<mode_t>(DTTOIF(handle->entry->d_type));
        const off_t next = handle->entry->d_off;
        const size_t entrySize = fuse_add_direntry(req, bytes.data() + used, size - used,
                                                   handle->entry->d_name, &attr, next);
        if (entrySize > size - used)
            break;
        used += entrySize;
        handle->entry = nullptr;
        handle->offset = next;
    }
    fuse_reply_buf(req, bytes.data(), used);
}

void doReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    const Request request(Releasedir);
    DirHandle *handle = dirHandle(fi);
    closedir(handle->dir);
    delete handle;
    fuse_reply_err(req, 0);
}

void doFsyncdir(fuse_req_t req, fuse_ino_t, int datasync, fuse_file_info *fi)
{
    const Request request(Fsyncdir);
    const int fd = dirfd(dirHandle(fi)->dir);
    replyResult(req, datasync ? fdatasync(fd) : fsync(fd));
}

void doStatfs(fuse_req_t req, fuse_ino_t ino)
{
    // The kernel reports the mount as FUSE's (f_type 0x65735546) whatever is answered here.
    const Request request(Statfs);
    struct statvfs stats;
    if (fstatvfs(inodeOf(ino)->fd, &stats) < 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_statfs(req, &stats);
}

void doAccess(fuse_req_t req, fuse_ino_t ino, int mask)
{
    const Request request(Access);
    replyResult(req, faccessat(AT_FDCWD, procPath(inodeOf(ino)->fd).c_str(), mask, 0));
}

void doFallocate(fuse_req_t req, fuse_ino_t, int mode, off_t offset, off_t length,
                 fuse_file_info *fi)
{
    const Request request(Fallocate);
    replyResult(req, fallocate(static_cast<int>(fi->fh), mode, offset, length));
}

const fuse_opt optionSpecs[] = {
    { "delay_us=%u", offsetof(Options, delayUs), 0 },
    { "threads=%u", offsetof(Options, threads), 0 },
    { "stats", offsetof(Options, stats), 1 },
    FUSE_OPT_END,
};

// The first argument that is not an option is the source; the next one, the mount point, is
// left to libfuse.
int takeSource(void *data, const char *argument, int key, fuse_args *)
{
    auto *options = static_cast<Options *>(data);
    if (key == FUSE_OPT_KEY_NONOPT && !options->source) {
        options->source = argument;
        return 0;
    }
    return 1;
}

void printStats(const char *title)
{
    std::string line = title;
    unsigned long long total = 0;
    for (int kind = 0; kind < KindCount; ++kind) {
        const unsigned long long count = share.counts[kind].load();
        total += count;
        if (count)
            line += std::string(" ") + kindNames[kind] + '=' + std::to_string(count);
    }
    line += " total=" + std::to_string(total) + " most-at-once="
            + std::to_string(share.maxInFlight.exchange(share.inFlight.load())) + '\n';
    std::fputs(line.c_str(), stderr);
}

// Prints the counts so far at each SIGUSR1, which every other thread blocks.
void printStatsOnSignal()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) == 0)
            printStats("sharefs stats so far:");
    }
}

void usage(const char *program)
{
    std::printf("usage: %s SOURCE MOUNTPOINT [-f] [-o delay_us=N,threads=N,stats]\n\n"
                "Mirrors SOURCE at MOUNTPOINT and answers every request after delay_us\n"
                "microseconds (default 500), threads requests at once (default 64).\n\n",
                program);
    fuse_cmdline_help();
    fuse_lowlevel_help();
}

} // namespace

int main(int argc, char *argv[])
{
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, &share.options, optionSpecs, takeSource) != 0)
        return 1;
    fuse_cmdline_opts command;
    if (fuse_parse_cmdline(&args, &command) != 0)
        return 1;
    if (command.show_help || !share.options.source || !command.mountpoint) {
        usage(argv[0]);
        return command.show_help ? 0 : 1;
    }
    if (share.options.threads < 1)
        share.options.threads = 1;

    share.root.fd = open(share.options.source, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (share.root.fd < 0) {
        std::fprintf(stderr, "sharefs: cannot open %s: %s\n", share.options.source,
                     std::strerror(errno));
        return 1;
    }
    // Modes arrive with the caller's umask applied; delays are kept to the microsecond.
    umask(0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    fuse_opt_add_arg(&args, "-odefault_permissions,fsname=sharefs,subtype=sharefs");
    fuse_lowlevel_ops ops;
    std::memset(&ops, 0, sizeof ops);
    ops.init = doInit;
    ops.lookup = doLookup;
    ops.forget = doForget;
    ops.forget_multi = doForgetMulti;
    ops.getattr = doGetattr;
    ops.setattr = doSetattr;
    ops.readlink = doReadlink;
    ops.mknod = doMknod;
    ops.mkdir = doMkdir;
    ops.symlink = doSymlink;
    ops.link = doLink;
    ops.unlink = doUnlink;
    ops.rmdir = doRmdir;
    ops.rename = doRename;
    ops.open = doOpen;
    ops.create = doCreate;
    ops.read = doRead;
    ops.write = doWrite;
    ops.flush = doFlush;
    ops.release = doRelease;
    ops.fsync = doFsync;
    ops.opendir = doOpendir;
    ops.readdir = doReaddir;
    ops.releasedir = doReleasedir;
    ops.fsyncdir = doFsyncdir;
    ops.statfs = doStatfs;
    ops.access = doAccess;
    ops.fallocate = doFallocate;

    if (share.options.stats) {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::thread(printStatsOnSignal).detach();
    }

    int status = 1;
    fuse_session *session = fuse_session_new(&args, &ops, sizeof ops, nullptr);
    if (session) {
        if (fuse_set_signal_handlers(session) == 0) {
            if (fuse_session_mount(session, command.mountpoint) == 0) {
                fuse_daemonize(command.foreground);
                if (command.foreground) {
                    std::puts("ready");
                    std::fflush(stdout);
                }
                if (command.singlethread) {
                    status = fuse_session_loop(session);
                } else {
                    fuse_loop_config *config = fuse_loop_cfg_create();
                    fuse_loop_cfg_set_clone_fd(config, static_cast<unsigned>(command.clone_fd));
                    fuse_loop_cfg_set_max_threads(config, share.options.threads);
                    fuse_loop_cfg_set_idle_threads(config, share.options.threads);
                    status = fuse_session_loop_mt(session, config);
                    fuse_loop_cfg_destroy(config);
                }
                fuse_session_unmount(session);
            }
            fuse_remove_signal_handlers(session);
        }
        fuse_session_destroy(session);
    }
    if (share.options.stats)
        printStats("sharefs stats:");
    free(command.mountpoint);
    fuse_opt_free_args(&args);
    return status == 0 ? 0 : 1;
}

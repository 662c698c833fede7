// The rewrite on Windows, through the Win32 calls.
//
// The new content goes to a temporary file in the folder of the file it replaces, which
// ReplaceFileW then puts in its place: the file keeps what a file replaced in place keeps on NTFS
// (its security descriptor, attributes, alternate data streams, creation time, short name). The
// file as it was is kept under a second temporary name until the new one is in place, so that no
// failure half-way leaves the path without a file.

#include "files/rewrite_system.h"

#include "files/systempath_windows.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include <windows.h>

QString WriteResult::reason() const
{
    if (systemError == 0)
        return {};
    wchar_t *buffer = nullptr;
    const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                    | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, DWORD(systemError), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString text = QString::fromWCharArray(buffer, int(length)).trimmed();
    ::LocalFree(buffer);
    return text;
}

StorageFault WriteResult::fault() const
{
    constexpr DWORD diskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, which MinGW leaves out
    if (done)
        return StorageFault::None;
    switch (DWORD(systemError)) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return StorageFault::NameTaken;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return StorageFault::Full;
    case diskQuotaExceeded:
        return StorageFault::QuotaReached;
    case ERROR_WRITE_PROTECT:
        return StorageFault::ReadOnly;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NETNAME_DELETED:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETWORK_BUSY:
    case ERROR_REM_NOT_LIST:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_SEM_TIMEOUT:
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
        return StorageFault::Unreachable;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_SYSTEM_RESOURCES:
        return StorageFault::TooManyFiles;
    default:
        return StorageFault::FileOnly;
    }
}

bool WriteResult::mayPass() const
{
    return fault() == StorageFault::Unreachable || systemError == ERROR_SHARING_VIOLATION
            || systemError == ERROR_LOCK_VIOLATION || systemError == ERROR_USER_MAPPED_FILE
            || systemError == ERROR_UNABLE_TO_REMOVE_REPLACED; // the file in use
}

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The file that the path names, a symbolic link or a junction on the way being followed: the
// path itself when nothing is there yet.
QString fileNamedBy(const QString &path)
{
    const HANDLE handle =
            ::CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    wchar_t buffer[32768];
    const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, DWORD(std::size(buffer)),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(handle);
    if (length == 0 || length >= std::size(buffer))
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString target = QString::fromWCharArray(buffer, int(length));
    if (target.startsWith(u"\\\\?\\UNC\\"))
        target = QStringLiteral("\\\\") + target.mid(8);
    else if (target.startsWith(u"\\\\?\\"))
        target = target.mid(4);
    return QDir::fromNativeSeparators(target);
}

QString pathIn(const QByteArray &folder, const QByteArray &name)
{
    return QString::fromUtf8(folder) + u'/' + QString::fromUtf8(name);
}

QString targetOf(const PreparedFile &file)
{
    return pathIn(file.folder, file.name);
}

QString temporaryOf(const PreparedFile &file)
{
    return pathIn(file.folder, file.temporaryName);
}

// The name of the file as it was while a prepared content takes its place: recognisable, with the
// prepared content's hashes and the file's name (every prepared content is named as PreparedName
// says), if the program stops between the two steps of the replacement.
QByteArray backupNameFor(const PreparedFile &file)
{
    PreparedName name =
            PreparedName::parse(QString::fromUtf8(file.temporaryName)).value_or(PreparedName());
    name.backup = true;
    return name.fileName();
}

// Gives the file at to the creation time of the file at from.
void keepCreationTime(const std::wstring &from, const std::wstring &to)
{
    const HANDLE source = ::CreateFileW(from.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return;
    FILETIME created{};
    const bool known = ::GetFileTime(source, &created, nullptr, nullptr);
    ::CloseHandle(source);
    if (!known)
        return;
    const HANDLE destination = ::CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, shareAll, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
    if (destination == INVALID_HANDLE_VALUE)
        return;
    ::SetFileTime(destination, &created, nullptr, nullptr);
    ::CloseHandle(destination);
}

// Makes one file's content durable; the system's error code, 0 when done.
int flushFile(const QString &path)
{
    const HANDLE handle = ::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, shareAll, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return int(::GetLastError());
    const int error = ::FlushFileBuffers(handle) ? 0 : int(::GetLastError());
    ::CloseHandle(handle);
    return error;
}

} // namespace

struct SystemRewrite::Private
{
    HANDLE file = INVALID_HANDLE_VALUE;
    QString target; // the file that receives the new content
    QString temporary; // while the temporary file is this object's to remove
    bool hadFile = false;

    void close()
    {
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
};

SystemRewrite::SystemRewrite() : d(std::make_unique<Private>()) { }

SystemRewrite::~SystemRewrite()
{
    d->close();
    if (!d->temporary.isEmpty())
        ::DeleteFileW(systemPath(d->temporary).c_str());
}

int SystemRewrite::locate(const QString &path, PreparedFile &prepared, QString &entryKey)
{
    d->target = fileNamedBy(path);
    const qsizetype slash = d->target.lastIndexOf(u'/');
    prepared.folder = d->target.left(qMax<qsizetype>(slash, 0)).toUtf8();
    prepared.name = d->target.sliced(slash + 1).toUtf8();
    // Names are compared without case, as the file system compares them.
    entryKey = d->target.toCaseFolded();
    const DWORD attributes = ::GetFileAttributesW(systemPath(d->target).c_str());
    d->hadFile = attributes != INVALID_FILE_ATTRIBUTES;
    prepared.hadFile = d->hadFile;
    if (!d->hadFile && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return int(::GetLastError()); // there may be a file there, out of reach: not replaced
    return 0;
}

int SystemRewrite::create(PreparedFile &prepared, bool lock, FileLock::Outcome &lockOutcome)
{
    // A file that cannot be opened for writing (read-only, or held by a program that lets nobody
    // write it) stays as it is.
    if (d->hadFile) {
        const HANDLE probe = ::CreateFileW(systemPath(d->target).c_str(), GENERIC_WRITE, shareAll,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            return int(::GetLastError());
        ::CloseHandle(probe);
    }
    const QString temporary = temporaryOf(prepared);
    // Shared, so that it can be flushed and put in place while its lock is held.
    d->file = ::CreateFileW(systemPath(temporary).c_str(), GENERIC_WRITE, shareAll, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (d->file == INVALID_HANDLE_VALUE)
        return int(::GetLastError());
    d->temporary = temporary;
    if (!lock)
        return 0;
    // Locked before a byte is written, through a handle of its own that stays open once the
    // content is written and closed.
    HANDLE locking = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), d->file, ::GetCurrentProcess(), &locking, 0,
                           FALSE, DUPLICATE_SAME_ACCESS))
        return int(::GetLastError());
    auto held = std::make_shared<FileLock>();
    lockOutcome = held->adopt(reinterpret_cast<qintptr>(locking));
    if (lockOutcome == FileLock::Outcome::Held)
        return ERROR_LOCK_VIOLATION;
    if (lockOutcome == FileLock::Outcome::Locked)
        prepared.lock = std::move(held);
    return 0;
}

int SystemRewrite::write(QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD wanted = DWORD(qMin<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(d->file, data, wanted, &written, nullptr) || written == 0)
            return written == 0 && ::GetLastError() == 0 ? ERROR_DISK_FULL : int(::GetLastError());
        data += written;
        left -= written;
    }
    return 0;
}

int SystemRewrite::finish(const PreparedFile &prepared)
{
    Q_UNUSED(prepared);
    d->close();
    d->temporary.clear(); // the caller's now
    return 0;
}

int flushSystemFiles(const QList<PreparedFile> &files)
{
    // FlushFileBuffers takes one file at a time and waits for the disk: the flushes go on several
    // threads at once, so that the disk gets many of them together.
    return runFlushes(files.size(), 16,
                      [&](qsizetype i) { return flushFile(temporaryOf(files.at(i))); });
}

namespace {

PlaceOutcome replaceFile(const PreparedFile &file, int &error)
{
    const QString target = targetOf(file);
    const std::wstring targetPath = systemPath(target);
    const std::wstring temporaryPath = systemPath(temporaryOf(file));
    if (!file.hadFile) {
        if (::MoveFileExW(temporaryPath.c_str(), targetPath.c_str(), MOVEFILE_WRITE_THROUGH))
            return PlaceOutcome::Placed;
        error = int(::GetLastError());
        return PlaceOutcome::Failed;
    }
    // The new file takes the attributes and the creation time of the one it replaces, which
    // ReplaceFileW does not carry over everywhere.
    const DWORD attributes = ::GetFileAttributesW(targetPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(temporaryPath.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    keepCreationTime(targetPath, temporaryPath);
    const std::wstring backup = systemPath(pathIn(file.folder, backupNameFor(file)));
    if (::ReplaceFileW(targetPath.c_str(), temporaryPath.c_str(), backup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        ::DeleteFileW(backup.c_str());
        return PlaceOutcome::Placed;
    }
    error = int(::GetLastError());
    // The file as it was went to the backup name, the new one could not take its name: the file
    // as it was comes back. Should that fail too, both stay, under names that the next start
    // recognises. Either way the new content stays beside the file, for the next run or start.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(backup.c_str(), targetPath.c_str(), 0);
    return PlaceOutcome::Failed;
}

} // namespace

PlaceOutcome placeSystemFile(const PreparedFile &file, int &error)
{
    error = 0;
    // The file must still be what it was when its content was read.
    if (file.basis.valid && !fileStamp(targetOf(file)).sameContent(file.basis)) {
        ::DeleteFileW(systemPath(temporaryOf(file)).c_str());
        return PlaceOutcome::Changed;
    }
    // The lock's handle would keep the system from moving the file: it goes for the replacement,
    // and is taken again on the file in place (or on the prepared content that stayed).
    const bool locked = file.lock && file.lock->isHeld();
    if (locked)
        file.lock->release();
    const PlaceOutcome outcome = replaceFile(file, error);
    if (locked)
        (void)file.lock->lock(outcome == PlaceOutcome::Placed ? targetOf(file) : temporaryOf(file));
    return outcome;
}

int flushSystemFolder(const QByteArray &folder)
{
    // NTFS writes a folder's entries through its own journal; flushing the folder asks for them
    // to be on disk now. Not every file system allows it (nothing is lost when it does not): only
    // a failure of the flush itself counts.
    QString path = nameFromSystem(folder);
    // A drive alone ("D:", the folder of a file at its root) names the drive's current folder;
    // the root of a share ("//server/share") gets its final backslash from systemPath().
    if (path.size() == 2 && path.at(1) == u':')
        path += u'/';
    const HANDLE handle = ::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, shareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int error = 0;
    if (!::FlushFileBuffers(handle)) {
        const DWORD failure = ::GetLastError();
        if (failure != ERROR_ACCESS_DENIED && failure != ERROR_INVALID_FUNCTION
            && failure != ERROR_NOT_SUPPORTED && failure != ERROR_INVALID_PARAMETER)
            error = int(failure);
    }
    ::CloseHandle(handle);
    return error;
}

int removeSystemFile(const PreparedFile &file)
{
    if (::DeleteFileW(systemPath(temporaryOf(file)).c_str())
        || ::GetLastError() == ERROR_FILE_NOT_FOUND)
        return 0;
    return int(::GetLastError());
}

// The file system as Windows offers it: the Win32 calls themselves, with paths of any length.

#include "files/filesystem.h"
#include "files/systempath_windows.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <windows.h>

namespace {

// Nanoseconds since 1970 from a FILETIME-like count of 100 ns since 1601.
qint64 nanosecondsSinceEpoch(quint64 ticksSince1601)
{
    constexpr quint64 ticksTo1970 = 116444736000000000ULL;
    return qint64(ticksSince1601 - ticksTo1970) * 100;
}

qint64 nanosecondsSinceEpoch(const LARGE_INTEGER &time)
{
    return nanosecondsSinceEpoch(quint64(time.QuadPart));
}

// Closes a handle when it goes.
class Handle
{
public:
    explicit Handle(HANDLE handle) : m_handle(handle) { }
    ~Handle()
    {
        if (isValid())
            ::CloseHandle(m_handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool isValid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Opens a file or a folder (a link followed) for reading, or for its attributes only, sharing it
// with every other program.
HANDLE openForReading(const QString &path, DWORD access)
{
    return ::CreateFileW(systemPath(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The stamp of an open file: its volume's serial number and its index on the volume (what stays
// the same whatever the path that leads to it: another case, other separators, a junction, a
// link), its size and its times.
FileStamp stampOf(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information))
        return {};
    FILE_BASIC_INFO basic{};
    const bool hasBasic =
            ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic);
    FileStamp stamp;
    stamp.valid = true;
    stamp.device = information.dwVolumeSerialNumber;
    stamp.inode = (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    stamp.size = qint64((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    stamp.modified =
            nanosecondsSinceEpoch((quint64(information.ftLastWriteTime.dwHighDateTime) << 32)
                                  | information.ftLastWriteTime.dwLowDateTime);
    stamp.changed = hasBasic ? nanosecondsSinceEpoch(basic.ChangeTime) : stamp.modified;
    return stamp;
}

bool isDirectory(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(handle, &information)
            && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

namespace {

// Whether a path in backslashes is the root of a share, "\\server\share" with nothing after.
bool isShareRoot(QStringView native)
{
    if (!native.startsWith(u"\\\\") || native.startsWith(u"\\\\?\\")
        || native.startsWith(u"\\\\.\\"))
        return false;
    const QStringView rest = native.sliced(2);
    const qsizetype separator = rest.indexOf(u'\\');
    return separator > 0 && separator + 1 < rest.size() && rest.indexOf(u'\\', separator + 1) < 0;
}

} // namespace

QString folderPathFromSettings(const QString &path)
{
    QString folder = QString(path).replace(u'\\', u'/');
    // "//?/" lifts the limit of 260 characters; "//./" names a device, the same way here.
    if (folder.startsWith(u"//?/") || folder.startsWith(u"//./")) {
        const QStringView rest = QStringView(folder).sliced(4);
        if (rest.startsWith(u"UNC/", Qt::CaseInsensitive))
            return QStringLiteral("//") + rest.sliced(4).toString();
        if (rest.size() >= 2 && rest.at(1) == u':' && rest.at(0).isLetter())
            return rest.toString();
    }
    return folder;
}

std::wstring systemPath(const QString &path)
{
    if (path.isEmpty())
        return {};
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    // The root of a share is a folder with its final backslash, as the root of a drive is ("D:\",
    // where "D:" names the drive's current folder).
    if (isShareRoot(native))
        native += u'\\';
    // Below MAX_PATH (less room for a file name in a folder) the path goes as it is.
    if (native.size() >= MAX_PATH - 12 && !native.startsWith(u"\\\\?\\")) {
        if (native.startsWith(u"\\\\"))
            native = QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
        else
            native = QStringLiteral("\\\\?\\") + native;
    }
    return native.toStdWString();
}

qint64 fileClockNow()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return nanosecondsSinceEpoch((quint64(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

FileStamp fileStamp(const QString &path)
{
    const Handle handle(openForReading(path, FILE_READ_ATTRIBUTES));
    return handle.isValid() ? stampOf(handle.get()) : FileStamp();
}

namespace {

// Reads an open file whose stamp is opened. With stopAtSize, the reading stops once it has the
// size the stamp says (the stamp is checked again before the bytes are used); it goes on to the
// end otherwise.
bool readOpenFile(HANDLE handle, const FileStamp &opened, bool stopAtSize, QByteArray &bytes)
{
    // One byte more than the size, to see a file that grew since.
    qsizetype capacity = qsizetype(opened.size) + 1;
    bytes.resize(capacity);
    qsizetype size = 0;
    for (;;) {
        if (size == capacity) {
            capacity *= 2;
            bytes.resize(capacity);
        }
        const DWORD wanted = DWORD(qMin<qsizetype>(capacity - size, 1 << 30));
        DWORD got = 0;
        if (!::ReadFile(handle, bytes.data() + size, wanted, &got, nullptr)) {
            bytes.clear();
            return false;
        }
        if (got == 0)
            break;
        size += got;
        if (stopAtSize && size == opened.size && size > 0)
            break;
    }
    bytes.resize(size);
    return true;
}

} // namespace

bool readFileBytes(const QString &path, QByteArray &bytes, FileStamp *stamp, qint64 maxSize)
{
    bytes.clear();
    const Handle handle(openForReading(path, GENERIC_READ));
    if (!handle.isValid() || isDirectory(handle.get()))
        return false;
    const FileStamp opened = stampOf(handle.get());
    if (!opened.valid || opened.size > maxSize)
        return false;
    if (stamp)
        *stamp = opened;
    // A stamped read is checked against the file's stamp before its bytes are used: a file that
    // grew since is read again then.
    return readOpenFile(handle.get(), opened, stamp != nullptr, bytes);
}

bool readFileThenStamp(const QString &path, QByteArray &bytes, FileStamp &stamp, qint64 maxSize)
{
    bytes.clear();
    stamp = {};
    const Handle handle(openForReading(path, GENERIC_READ));
    if (!handle.isValid() || isDirectory(handle.get()))
        return false;
    const FileStamp opened = stampOf(handle.get());
    if (!opened.valid || opened.size > maxSize || !readOpenFile(handle.get(), opened, false, bytes)
        || bytes.size() > maxSize)
        return false;
    // The stamp must say these bytes, unchanged since the file was opened.
    stamp = stampOf(handle.get());
    if (stamp.valid && stamp == opened && stamp.size == bytes.size())
        return true;
    bytes.clear();
    stamp = {};
    return false;
}

bool isPathTooLong(const QString &path)
{
    // With the "\\?\" prefix a path may hold 32,767 characters.
    return systemPath(path).size() > 32767;
}

namespace {

// The files and folders that the toolkit lists (not system files, such as shortcuts); with
// everyEntry, every entry it lists, system files included. Its listing does not tell a failure
// from an empty folder.
bool listFolder(const QString &directory, QList<FolderEntry> &entries, bool everyEntry)
{
    entries.clear();
    QDir::Filters filters = QDir::Files | QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot;
    if (everyEntry)
        filters |= QDir::System;
    QDirIterator it(directory, filters);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const FolderEntry::Kind kind = info.isDir() ? FolderEntry::Folder
                : info.isFile()                     ? FolderEntry::File
                                                    : FolderEntry::Other;
        if (kind != FolderEntry::Other || everyEntry)
            entries.append({ info.fileName(), kind, everyEntry && info.isSymLink() });
    }
    return true;
}

// Whether the directory's entries cannot be listed and reached. A directory that no longer exists
// is not unreadable: it has nothing left to switch.
bool isUnreadableDirectory(const QString &directory)
{
    std::wstring pattern = systemPath(directory);
    pattern += pattern.empty() || pattern.back() != L'\\' ? L"\\*" : L"*";
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
        return false;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND
            && error != ERROR_DIRECTORY && error != ERROR_NO_MORE_FILES;
}

} // namespace

FolderContents readFolder(const QString &directory, bool checkReadable, bool everyEntry)
{
    FolderContents contents;
    contents.identity = fileIdentity(directory);
    contents.unreadable = checkReadable && isUnreadableDirectory(directory);
    if (!contents.unreadable)
        contents.listed = listFolder(directory, contents.entries, everyEntry);
    return contents;
}

QByteArray systemName(const QString &name)
{
    return name.toUtf8();
}

QString nameFromSystem(const QByteArray &name)
{
    return QString::fromUtf8(name);
}

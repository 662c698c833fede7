// The rewrite on Windows, through the Win32 calls.
//
// The new content goes to a temporary file in the folder of the file it replaces, which
// ReplaceFileW then puts in its place: the file keeps what a file replaced in place keeps on NTFS
// (its security descriptor, attributes, alternate data streams, creation time, short name). The
// file as it was is kept under a second temporary name until the new one is in place, so that no
// failure half-way leaves the path without a file.

#include "switching/rewrite.h"

#include "switching/filesystem.h"
#include "switching/systempath_windows.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

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

namespace {

// The file that the path names, a symbolic link or a junction on the way being followed: the
// path itself when nothing is there yet.
QString fileNamedBy(const QString &path)
{
    const HANDLE handle =
            ::CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

// Gives the file at to the creation time of the file at from.
void keepCreationTime(const std::wstring &from, const std::wstring &to)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE source = ::CreateFileW(from.c_str(), FILE_READ_ATTRIBUTES, share, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return;
    FILETIME created{};
    const bool known = ::GetFileTime(source, &created, nullptr, nullptr);
    ::CloseHandle(source);
    if (!known)
        return;
    const HANDLE destination = ::CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, share, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
    if (destination == INVALID_HANDLE_VALUE)
        return;
    ::SetFileTime(destination, &created, nullptr, nullptr);
    ::CloseHandle(destination);
}

QString temporaryPathBeside(const QString &target)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name = QLatin1String(temporaryFilePrefix);
    for (int i = 0; i < 6; ++i)
        name.append(QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]));
    return QFileInfo(target).absolutePath() + u'/' + name;
}

} // namespace

struct Rewrite::Private
{
    QString path;
    QString target; // the file that receives the new content
    QString temporary; // while the temporary file exists
    HANDLE file = INVALID_HANDLE_VALUE;
    bool hadFile = false;
    bool started = false;
    bool failed = false;
    int error = 0;

    void fail(DWORD systemError = ::GetLastError())
    {
        if (!failed)
            error = int(systemError);
        failed = true;
    }

    void start()
    {
        started = true;
        target = fileNamedBy(path);
        const DWORD attributes = ::GetFileAttributesW(systemPath(target).c_str());
        hadFile = attributes != INVALID_FILE_ATTRIBUTES;
        if (!hadFile && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            fail(); // there may be a file there, out of reach: it is not replaced
            return;
        }
        // A file that cannot be opened for writing (read-only, or held by a program that lets
        // nobody write it) stays as it is.
        if (hadFile) {
            const HANDLE probe =
                    ::CreateFileW(systemPath(target).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
            if (probe == INVALID_HANDLE_VALUE) {
                fail();
                return;
            }
            ::CloseHandle(probe);
        }
        for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
            const QString candidate = temporaryPathBeside(target);
            file = ::CreateFileW(systemPath(candidate).c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                temporary = candidate;
            else if (::GetLastError() != ERROR_FILE_EXISTS)
                break;
        }
        if (file == INVALID_HANDLE_VALUE)
            fail();
    }

    void closeFile()
    {
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
    }

    void discard()
    {
        closeFile();
        if (!temporary.isEmpty()) {
            ::DeleteFileW(systemPath(temporary).c_str());
            temporary.clear();
        }
    }

    // Puts the temporary file in place of the target.
    bool replace()
    {
        if (!hadFile) {
            if (::MoveFileExW(systemPath(temporary).c_str(), systemPath(target).c_str(),
                              MOVEFILE_WRITE_THROUGH))
                return true;
            fail();
            return false;
        }
        // The new file takes the attributes and the creation time of the one it replaces, which
        // ReplaceFileW does not carry over everywhere.
        const std::wstring targetPath = systemPath(target);
        const DWORD attributes = ::GetFileAttributesW(targetPath.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesW(systemPath(temporary).c_str(),
                                 attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        keepCreationTime(targetPath, systemPath(temporary));
        const QString backup = temporaryPathBeside(target);
        if (::ReplaceFileW(systemPath(target).c_str(), systemPath(temporary).c_str(),
                           systemPath(backup).c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                           nullptr)) {
            ::DeleteFileW(systemPath(backup).c_str());
            return true;
        }
        const DWORD replaceError = ::GetLastError();
        // The file as it was went to the backup name, the new one could not take its name:
        // the file as it was comes back.
        if (replaceError == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
            ::MoveFileExW(systemPath(backup).c_str(), systemPath(target).c_str(), 0);
        fail(replaceError);
        return false;
    }
};

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
        const DWORD wanted = DWORD(qMin<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(d->file, data, wanted, &written, nullptr) || written == 0) {
            d->fail(written == 0 && ::GetLastError() == 0 ? ERROR_DISK_FULL : ::GetLastError());
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
    if (!d->failed && !::FlushFileBuffers(d->file))
        d->fail();
    d->closeFile();
    if (!d->failed && d->replace())
        d->temporary.clear(); // in place: nothing to remove
    if (d->failed) {
        d->discard();
        return { false, d->error };
    }
    return {};
}

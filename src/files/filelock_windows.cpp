// The lock on Windows: LockFileEx on one byte far beyond the end of the file, which SMB carries to
// the server, so that other machines see it too. A file that another program keeps open without
// sharing it (an antivirus that looks at it) cannot be locked, and is not taken for held.

#include "files/filelock.h"

#include "files/systempath_windows.h"

#include <windows.h>

FileLock::Outcome FileLock::lock(const QString &path)
{
    release();
    const HANDLE file = ::CreateFileW(systemPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Outcome::Failed;
    return adopt(reinterpret_cast<qintptr>(file));
}

bool FileLock::heldElsewhere(const QString &path)
{
    FileLock probe;
    return probe.lock(path) == Outcome::Held;
}

FileLock::Outcome FileLock::adopt(qintptr handle)
{
    release();
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    OVERLAPPED range{};
    range.Offset = 0;
    range.OffsetHigh = 0x40000000; // byte 2^62
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        m_handle = handle;
        return Outcome::Locked;
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION ? Outcome::Held : Outcome::Failed;
}

void FileLock::release()
{
    if (m_handle != none)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = none;
}

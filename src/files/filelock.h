#pragma once

#include <QString>
#include <QtGlobal>

// A lock that a switch run holds on a file for as long as it acts on it: on config.ini, and on a
// new content prepared beside a file of the tree. Another Mirabex (a second window, another
// installation naming the same tree, another machine reaching the files through a share) sees it
// and keeps off. The system releases it when the process ends, however it ends, so that a crash
// never leaves a file locked.
//
// The lock covers one byte far beyond the end of any file: on Windows, where such a lock forbids
// reading and writing what it covers, the file's own bytes stay free for every program. It is
// carried by SMB shares (byte-range locks) and by NFS (the system's lock manager).
class FileLock
{
public:
    enum class Outcome {
        Locked,
        Held, // another process, or another window, holds it
        Failed, // the file cannot be opened for it, or its file system keeps no locks
    };

    FileLock() = default;
    ~FileLock() { release(); }
    FileLock(FileLock &&other) noexcept : m_handle(other.m_handle) { other.m_handle = none; }
    FileLock &operator=(FileLock &&other) noexcept
    {
        if (this != &other) {
            release();
            m_handle = other.m_handle;
            other.m_handle = none;
        }
        return *this;
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Takes the lock of the file at path, opened for the lock alone (a link is followed). A lock
    // already held by this object is released first.
    Outcome lock(const QString &path);
    // Takes the lock through a file open for writing (a descriptor on Unix, a HANDLE on Windows),
    // which this object then owns: it is closed when the lock is released, or now on failure.
    Outcome adopt(qintptr handle);
    bool isHeld() const { return m_handle != none; }
    void release();

    // Whether another process (or another window) holds the lock of the file at path, asked
    // without taking it. False also when it cannot be told.
    static bool heldElsewhere(const QString &path);

private:
    static constexpr qintptr none = -1; // also INVALID_HANDLE_VALUE
    qintptr m_handle = none;
};

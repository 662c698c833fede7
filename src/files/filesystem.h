#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <limits>

// What the program asks of the file system: whole reads, the stamp and identity of a file, a
// folder's listing, the platform's line terminator. The system calls live in one file per
// platform (filesystem_unix.cpp, filesystem_windows.cpp).

struct FileStamp;

// Reads a whole file into bytes. False when it cannot be opened (missing, a directory, no right
// to read), when it is larger than maxSize or when reading stops before its end; bytes then hold
// nothing to be used. With a stamp, the stamp of the file when it was opened: the bytes stand for
// the file only as long as its stamp stays the same (see FileStamp).
[[nodiscard]] bool readFileBytes(const QString &path, QByteArray &bytes, FileStamp *stamp = nullptr,
                                 qint64 maxSize = std::numeric_limits<qint64>::max());
// Reads a whole file as readFileBytes() does, then stamps it: the stamp says what the file was once
// its bytes were read. Bytes and stamp only go together if the file was not written while it was
// read, which stamp.changedRecently(a moment before the call) tells.
[[nodiscard]] bool readFileThenStamp(const QString &path, QByteArray &bytes, FileStamp &stamp,
                                     qint64 maxSize);

// What tells one file from another whatever the path that leads to it (a link, a hard link, a
// folder reached twice): device and inode (volume serial number and file index on Windows). Empty
// when the file cannot be reached.
[[nodiscard]] QString fileIdentity(const QString &path);

// What the system says of a file at one moment: its identity (see fileIdentity) and what changes
// when it is written (size, modification and change times). Two equal stamps taken at two moments
// say the file was not written in between, unless it was written twice within the resolution of
// its times: changedRecently() tells a stamp too close to a moment to be sure of that.
struct FileStamp
{
    bool valid = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds
    qint64 changed = 0; // nanoseconds

    QString identity() const;
    // Whether the file holds what other says it held: the same file, of the same size, written
    // last at the same time. Its change time is left out: a change of its rights or owner leaves
    // its content as it was.
    bool sameContent(const FileStamp &other) const;
    bool operator==(const FileStamp &other) const;
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
    // Whether the file was changed within a clock tick or so of when (nanoseconds, as now()).
    bool changedRecently(qint64 when) const;
};
[[nodiscard]] FileStamp fileStamp(const QString &path);
// The time the system gives files, in nanoseconds.
qint64 fileClockNow();

// A folder named in the settings (MainDir=) written as the program writes paths: "/" between
// names, a backslash taken for one; on Windows, the long forms "\\?\C:\..." and
// "\\?\UNC\server\share\..." as "C:/..." and "//server/share/...", so that a tree on a share is
// one path whichever way it was named. A relative path stays relative.
QString folderPathFromSettings(const QString &path);

// Whether the system refuses this path as too long to be opened at all (PATH_MAX).
bool isPathTooLong(const QString &path);

// Whether a file that could not be read is gone, rather than there but out of reach. A path
// longer than the system takes cannot be opened, nor asked whether it exists: the file is there
// (the walk found it), only out of reach.
bool isMissingFile(const QString &path);

// An entry of a folder as a listing gives it: a file or a folder, links followed, or (only when
// every entry is asked for) anything else: a FIFO, a device, a socket, a broken link.
struct FolderEntry
{
    enum Kind : quint8 { File, Folder, Other };
    QString name;
    Kind kind = File;
    bool isLink = false; // told only when every entry is asked for
};

// A folder read at once: its identity (see fileIdentity), whether it is unreadable (asked only
// with checkReadable) and its entries, from one opening of the folder where the system allows: on
// a file share each request is a round trip.
//
// The entries are the folder's files and folders, links followed, hidden ones included, in the
// order the system lists them (the toolkit's listings give the same order); with everyEntry, what
// is neither as well, and which entries are links. "." and ".." are left out, as are names that
// are not text in the system's encoding (they could not be opened again from their decoded form;
// the toolkit's listings leave them out too). A folder that is not there (or not a folder) lists
// nothing. directory ends with a slash.
struct FolderContents
{
    QString identity;
    // There, but its entries cannot be listed or reached. A folder that no longer exists is not
    // unreadable: it has nothing left to switch.
    bool unreadable = false;
    bool listed = true; // false: the listing failed part-way (entries then holds what came)
    QList<FolderEntry> entries;
};
[[nodiscard]] FolderContents readFolder(const QString &directory, bool checkReadable,
                                        bool everyEntry = false);

// A name (of a file, of a folder) as the system takes it in its calls: its bytes on Unix, UTF-8
// on Windows.
QByteArray systemName(const QString &name);
QString nameFromSystem(const QByteArray &name);

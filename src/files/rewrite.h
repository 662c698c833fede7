#pragma once

#include "files/filelock.h"
#include "files/filesystem.h"
#include "files/preparedname.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What a failure to write says of the storage: whether it is proper to the file (its rights, its
// size), or will meet every other file the run has to write as well.
enum class StorageFault {
    None,
    FileOnly, // this file only: no right to write it, a file too large
    NameTaken, // the name of a prepared content is taken (see PreparedName)
    Full, // no space left
    QuotaReached,
    ReadOnly, // the file system is read-only
    Unreachable, // the disk or the share no longer answers (input/output error, connection lost)
    TooManyFiles, // the process may open no more files
};

// How a rewrite ended: the new content in place, or the file as it was with the system's reason.
struct WriteResult
{
    bool done = true;
    int systemError = 0; // errno, or GetLastError() on Windows; 0 when the system gave none

    explicit operator bool() const { return done; }
    // The system's words for the reason, empty when it gave none.
    QString reason() const;
    // What the failure says of the storage; None when done.
    StorageFault fault() const;
    // Whether the failure may pass if tried again later: a disk or a share that answers again, a
    // file that another program holds for now.
    bool mayPass() const;
};

// A new content on disk beside the file it is to replace, closed, waiting to be put in place.
// Names only: no file is held open, so that a run may keep thousands of them.
struct PreparedFile
{
    QString path; // as the caller named the file to replace
    // The folder of the file that receives the content (a link followed to the file it names),
    // the file's name in it and the prepared content's: the system's bytes on Unix, UTF-8 on
    // Windows.
    QByteArray folder;
    QByteArray name;
    QByteArray temporaryName;
    bool hadFile = true; // false: the content makes a new file
    // What the file was when its content was read; put in place only while it still is.
    FileStamp basis;
    // The device the folder lies on, whose prepared files are made durable together.
    quint64 device = 0;
    // The lock held on the content while a run or a settling acts on it (see FileLock), shared by
    // the copies of this description; none when no lock is held. Putting the content in place
    // leaves the lock on the file it has become.
    std::shared_ptr<FileLock> lock;
};

// A rewrite of a file: the new content goes to a temporary file beside it, which replaces it only
// once every byte is on disk. A link is followed to the file it names, which receives the new
// content; the link stays a link. A file that cannot be opened for writing (read-only) keeps its
// bytes. What the system is asked for lives in one file per platform (rewrite_unix.cpp,
// rewrite_windows.cpp).
//
// A switch run prepares every file first (prepare(), under a PreparedName), makes them all durable
// together, records the new environment, then puts them in place (see flushPreparedFiles,
// putInPlace, flushFolders).
class Rewrite
{
public:
    // A rewrite whose temporary file is named for a switch run towards that environment, recorded
    // in the installation's config.ini (see PreparedName); basis is what the file was when its
    // content was read.
    Rewrite(const QString &filePath, bool toProduction, const FileStamp &basis,
            quint64 installation = 0);
    ~Rewrite();
    Rewrite(const Rewrite &) = delete;
    Rewrite &operator=(const Rewrite &) = delete;

    // Finds the file that receives the content and the entry that names it in its folder: two
    // paths that lead to the same entry (a link, a folder reached twice) give the same key. Empty
    // when the file cannot be found. Done by the first write() otherwise.
    QString entryKey();

    // Adds to the new content. After a failure, what follows is dropped.
    void write(QByteArrayView bytes);

    // The folder that receives the content, as the system names it, and the device it lies on
    // (see PreparedFile); empty when the file cannot be found.
    QByteArray folder();
    quint64 device();

    // Locks the new content as soon as it is made, and keeps it locked in the prepared file (see
    // PreparedFile::lock). Asked before the first write().
    void lockContent();
    // How the lock asked for went: Held when another Mirabex took the new content before this one
    // could lock it.
    FileLock::Outcome lockOutcome() const;

    // Leaves the new content beside the file, closed, for a run to put in place later. On failure
    // nothing is left.
    [[nodiscard]] WriteResult prepare(PreparedFile &prepared);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Makes the prepared files durable, their names in their folders included, in as few flushes as
// the system allows. On failure none of them may be counted on.
[[nodiscard]] WriteResult flushPreparedFiles(const QList<PreparedFile> &files);

// What became of a prepared file when its turn came to be put in place.
enum class PlaceOutcome {
    Placed,
    Changed, // the file changed since it was read: it keeps what it holds now
    Failed, // see the result's reason; the prepared content is gone
    // The system refused for now (see WriteResult::mayPass): the prepared content stays beside
    // the file, for a run or a start to put in place later (see settleInterruptedRun).
    Waiting,
};
// Puts a prepared content in place of its file, unless the file changed since its basis was
// taken (the prepared content is then removed). A prepared file that is the only copy of what it
// holds (the file as it was, kept aside while Windows replaced it) is never removed: a failure
// leaves it where it is.
[[nodiscard]] PlaceOutcome putInPlace(const PreparedFile &file, WriteResult *result = nullptr,
                                      bool onlyCopy = false);

// Makes the names of the folders' entries durable (after put in place), each folder once. A
// failure means that what was put in place may not survive a power cut.
[[nodiscard]] WriteResult flushFolders(const QList<PreparedFile> &files);

// Runs job(0) to job(count - 1), up to `threads` of them at once (the caller's thread among
// them), and returns once they are done: a flush waits for the storage (a disk's cache written
// out, a round trip on a share), which serves many of them together faster than one after the
// other. A job returns the system's error code of its failure, 0 when done; after a failure the
// jobs not started yet are not run, and the code of a failure is returned (0 when none failed).
[[nodiscard]] int runFlushes(qsizetype count, int threads,
                             const std::function<int(qsizetype index)> &job);

// Removes a prepared content that will not be put in place.
[[nodiscard]] WriteResult removePreparedFile(const PreparedFile &file);

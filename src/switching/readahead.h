#pragma once

#include "switching/filesystem.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// Reads the files of a run ahead of their turn, on a thread of its own, and looks in each one for
// the values to switch: while the run rewrites a file and writes its journal records, the next
// files are read and searched on the other core.
//
// A file read ahead stands for the file at its turn only when it is still as it was read: the same
// stamp then, and not changed within a clock tick of the reading (two writes within one tick would
// leave the same stamp). Otherwise the caller reads it again, as it is then.
class ReadAhead
{
public:
    struct File
    {
        QByteArray bytes;
        bool caseSensitive = false; // the state of the box the search was made with
        bool holdsValue = false;
        FileStamp stamp; // once it was read
        qint64 readAt = 0; // fileClockNow() before it was opened
        std::chrono::steady_clock::time_point readEnd;

        // Whether the bytes stand for the file as it is now, now being its stamp at its turn.
        bool stillAsRead(const FileStamp &now) const
        {
            return stamp == now && !stamp.changedRecently(readAt);
        }
        // Whether the bytes may stand for the file at its turn without asking the system for its
        // stamp again: the file was not written while it was read, nor shortly before, and it was
        // read a moment ago and after notBefore (a moment the user could change the tree: a box
        // that waited). A write since then might as well have come just after its turn.
        bool readJustNow(std::chrono::steady_clock::time_point notBefore) const;
    };
    // Whether the bytes hold a value, case counting or not. Called on the reading thread.
    using Search = std::function<bool(const QByteArray &bytes, bool caseSensitive)>;

    // Files larger than budget are left to the caller; the files waiting for their turn take at
    // most about budget bytes. The files to read are added as they are listed.
    ReadAhead(Search search, bool caseSensitive, qsizetype budget = qsizetype(8) << 20);
    ~ReadAhead();
    Q_DISABLE_COPY_MOVE(ReadAhead)

    // The state of "Sensible à la case" for the files read from now on.
    void setCaseSensitive(bool caseSensitive);

    // The next files of the run, in their order; then, once there are no more, the end of the
    // list. Files are only taken once the list is ended.
    void add(const QStringList &paths);
    void endList();

    // The file at index, read ahead; nothing when it could not be read whole. Indices are taken
    // in increasing order; the files passed over are dropped.
    [[nodiscard]] std::optional<File> take(qsizetype index);

private:
    struct Entry
    {
        qsizetype index = 0;
        std::optional<File> file;
    };
    void run();

    const Search m_search;
    const qsizetype m_budget;

    // Each side that waits for the other is woken once there is a batch of work for it, not for
    // each file: a wake-up per file costs the two threads more than most files do.
    std::mutex m_mutex;
    std::condition_variable m_readerWakes; // room in the budget
    std::condition_variable m_takerWakes; // files read
    QStringList m_paths;
    bool m_listEnded = false;
    std::deque<Entry> m_ready;
    qsizetype m_readyBytes = 0;
    qsizetype m_taken = 0; // the caller is done with the files before this index
    qsizetype m_reached = 0; // the reading thread is done with the files before this index
    qsizetype m_takerWaitsFor = -1; // the caller waits until the reading thread reaches this
    bool m_readerWaitsForRoom = false;
    bool m_readerWaitsForList = false; // for files to be added, or the end of the list
    bool m_caseSensitive;
    bool m_stop = false;
    std::thread m_thread; // last: starts once everything above is ready
};

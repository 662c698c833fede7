#pragma once

#include "switching/filesystem.h"

#include <QByteArray>
#include <QStringList>

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
// A file read ahead is only handed over when it is still as it was read: same stamp when its turn
// comes, and not changed within a clock tick of the reading (two writes within one tick would
// leave the same stamp). Otherwise the caller reads it again, as it is then.
class ReadAhead
{
public:
    struct File
    {
        QByteArray bytes;
        bool caseSensitive = false; // the state of the box the search was made with
        bool holdsValue = false;
    };
    // Whether the bytes hold a value, case counting or not. Called on the reading thread.
    using Search = std::function<bool(const QByteArray &bytes, bool caseSensitive)>;

    // Files larger than budget are left to the caller; the files waiting for their turn take at
    // most about budget bytes.
    ReadAhead(QStringList paths, Search search, bool caseSensitive,
              qsizetype budget = qsizetype(8) << 20);
    ~ReadAhead();
    Q_DISABLE_COPY_MOVE(ReadAhead)

    // The state of "Sensible à la case" for the files read from now on.
    void setCaseSensitive(bool caseSensitive);

    // The file at index, read ahead, when it may be taken for the file as it is now (now: its
    // stamp at its turn); nothing otherwise. Indices are taken in increasing order; the files
    // passed over are dropped.
    [[nodiscard]] std::optional<File> take(qsizetype index, const FileStamp &now);

private:
    struct Entry
    {
        qsizetype index = 0;
        std::optional<File> file;
        FileStamp stamp;
        qint64 readAt = 0;
    };
    void run();

    const QStringList m_paths;
    const Search m_search;
    const qsizetype m_budget;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_ready;
    qsizetype m_readyBytes = 0;
    qsizetype m_taken = 0; // the caller is done with the files before this index
    qsizetype m_reached = 0; // the reading thread is done with the files before this index
    bool m_caseSensitive;
    bool m_stop = false;
    std::thread m_thread; // last: starts once everything above is ready
};

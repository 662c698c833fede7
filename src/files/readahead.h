#pragma once

#include "files/filesystem.h"
#include "files/rewrite.h"
#include "files/storagepace.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

// Reads the files of a run ahead of their turn, on threads of their own, and looks in each one for
// the values to switch: while the run goes through a file and hands its records on, the next files
// are read and searched. One reading thread keeps the other core busy on a local disk; on a file
// share, where each request is a round trip, more threads are started as the round trip shows
// (see StoragePace), so that many requests wait at once. Files are handed to the run in their
// order, whatever order their reads end in.
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
        // For a file that holds a value: where its new content is to go (see Locate).
        std::shared_ptr<Rewrite> rewrite;

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
    // Whether the bytes hold a value, case counting or not. Called on a reading thread.
    using Search = std::function<bool(const QByteArray &bytes, bool caseSensitive)>;
    // Finds where the new content of a file that holds a value goes (links followed, see
    // Rewrite::entryKey), read with that stamp. Called on a reading thread.
    using Locate =
            std::function<std::shared_ptr<Rewrite>(const QString &path, const FileStamp &stamp)>;

    // Files larger than budget are left to the caller; the files waiting for their turn take at
    // most about budget bytes. The files to read are added as they are listed.
    ReadAhead(Search search, Locate locate, bool caseSensitive, StoragePace &pace,
              qsizetype budget = qsizetype(8) << 20);
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
    // Whether take(index) would not wait.
    [[nodiscard]] bool isRead(qsizetype index);

private:
    struct Entry
    {
        std::optional<File> file;
    };
    void read();
    void startReader();

    const Search m_search;
    const Locate m_locate;
    const qsizetype m_budget;
    StoragePace &m_pace;

    // Each side that waits for the other is woken once there is a batch of work for it, not for
    // each file: a wake-up per file costs the threads more than most files do.
    std::mutex m_mutex;
    std::condition_variable m_readerWakes; // room in the budget, files listed
    std::condition_variable m_takerWakes; // files read
    QStringList m_paths;
    bool m_listEnded = false;
    std::map<qsizetype, Entry> m_ready; // read, not taken yet
    std::set<qsizetype> m_doneAhead; // read past m_reached, whose files before are not all read
    qsizetype m_readyBytes = 0;
    qsizetype m_next = 0; // the next file a reading thread takes up
    qsizetype m_taken = 0; // the caller is done with the files before this index
    qsizetype m_reached = 0; // the files before this index are all read (or passed over)
    qsizetype m_takerWaitsFor = -1; // the caller waits until the reading threads reach this
    int m_readersWaitingForRoom = 0;
    bool m_caseSensitive;
    bool m_stop = false;
    std::vector<std::thread> m_readers;
};

#include "files/readahead.h"

ReadAhead::ReadAhead(Search search, Locate locate, bool caseSensitive, StoragePace &pace,
                     qsizetype budget)
    : m_search(std::move(search)),
      m_locate(std::move(locate)),
      m_budget(budget),
      m_pace(pace),
      m_caseSensitive(caseSensitive)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    startReader();
}

bool ReadAhead::File::readJustNow(std::chrono::steady_clock::time_point notBefore) const
{
    // Far less than anyone takes to change a file by hand, far more than a run takes to reach a
    // file read ahead (its files waiting for their turn take at most the budget).
    constexpr auto moment = std::chrono::milliseconds(100);
    // File times of a millisecond or coarser (FAT, exFAT) may not move with a write while it was
    // read: such files are checked at their turn.
    constexpr qint64 millisecond = 1000000;
    return stamp.modified % millisecond != 0 && !stamp.changedRecently(readAt)
            && readEnd >= notBefore && std::chrono::steady_clock::now() - readEnd < moment;
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_readerWakes.notify_all();
    // The list of readers only grows while the mutex is held, by a reader that is not stopped.
    for (std::size_t i = 0;; ++i) {
        std::thread reader;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (i >= m_readers.size())
                break;
            reader.swap(m_readers[i]);
        }
        reader.join();
    }
}

void ReadAhead::startReader()
{
    m_readers.emplace_back([this] { read(); });
}

void ReadAhead::setCaseSensitive(bool caseSensitive)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_caseSensitive = caseSensitive;
}

void ReadAhead::add(const QStringList &paths)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_paths += paths;
    }
    m_readerWakes.notify_all();
}

void ReadAhead::endList()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_listEnded = true;
    }
    m_readerWakes.notify_all();
    m_takerWakes.notify_one();
}

namespace {

// The files the caller waits for once it has caught up with the reading thread.
constexpr qsizetype batchFiles = 32;

} // namespace

void ReadAhead::read()
{
    for (;;) {
        qsizetype index;
        bool caseSensitive;
        QString path;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_stop && !m_ready.empty() && m_readyBytes >= m_budget) {
                // The caller takes what there is; the reading goes on once half the room is free.
                ++m_readersWaitingForRoom;
                if (m_takerWaitsFor >= 0)
                    m_takerWakes.notify_one();
                m_readerWakes.wait(lock, [&] {
                    return m_stop || m_ready.empty() || m_readyBytes <= m_budget / 2;
                });
                --m_readersWaitingForRoom;
            }
            m_next = qMax(m_next, m_taken); // the caller went past these without waiting
            m_readerWakes.wait(lock,
                               [&] { return m_stop || m_next < m_paths.size() || m_listEnded; });
            if (m_stop || m_next >= m_paths.size())
                return;
            index = m_next++;
            caseSensitive = m_caseSensitive;
            path = m_paths.at(index);
        }

        Entry entry;
        File file;
        file.readAt = fileClockNow();
        bool read;
        {
            // Opening, reading, stamping and closing: four requests at least, one more for each
            // 64 KiB past the first.
            PaceTimer timer(m_pace);
            read = readFileThenStamp(path, file.bytes, file.stamp, m_budget);
            timer.setRequests(4 + int(file.bytes.size() >> 16));
        }
        if (read) {
            file.readEnd = std::chrono::steady_clock::now();
            file.caseSensitive = caseSensitive;
            file.holdsValue = m_search(file.bytes, caseSensitive);
            if (file.holdsValue && m_locate)
                file.rewrite = m_locate(path, file.stamp);
            entry.file = std::move(file);
        }

        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (index >= m_taken) {
                m_readyBytes += entry.file ? entry.file->bytes.size() : 0;
                m_ready.emplace(index, std::move(entry));
            }
            m_doneAhead.insert(index);
            m_reached = qMax(m_reached, m_taken);
            while (!m_doneAhead.empty() && *m_doneAhead.begin() <= m_reached) {
                if (*m_doneAhead.begin() == m_reached)
                    ++m_reached;
                m_doneAhead.erase(m_doneAhead.begin());
            }
            wake = m_takerWaitsFor >= 0 && m_reached >= m_takerWaitsFor;
            // A slow storage gets more requests in flight.
            if (!m_stop && int(m_readers.size()) < m_pace.inFlight() - 1
                && m_next < m_paths.size() + (m_listEnded ? 0 : 1))
                startReader();
        }
        if (wake)
            m_takerWakes.notify_one();
    }
}

bool ReadAhead::isRead(qsizetype index)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_reached > index || m_ready.count(index) > 0
            || (m_listEnded && index >= m_paths.size());
}

std::optional<ReadAhead::File> ReadAhead::take(qsizetype index)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_taken = index;
    auto dropBefore = [&] {
        while (!m_ready.empty() && m_ready.begin()->first < index) {
            m_readyBytes -=
                    m_ready.begin()->second.file ? m_ready.begin()->second.file->bytes.size() : 0;
            m_ready.erase(m_ready.begin());
        }
    };
    auto wakeReaders = [&] {
        if (m_readersWaitingForRoom > 0 && (m_ready.empty() || m_readyBytes <= m_budget / 2))
            m_readerWakes.notify_all();
    };
    dropBefore();
    wakeReaders();
    if (m_reached <= index && m_ready.count(index) == 0) {
        // Caught up with the reading threads: woken once they are a batch ahead, have read the
        // last file or have no more room.
        m_takerWaitsFor = qMin(index + batchFiles, m_paths.size());
        m_takerWakes.wait(lock, [&] {
            return m_reached >= m_takerWaitsFor
                    || (m_readersWaitingForRoom > 0 && m_ready.count(index) > 0)
                    || (m_listEnded && index >= m_paths.size());
        });
        m_takerWaitsFor = -1;
        dropBefore();
    }
    m_taken = index + 1;
    std::optional<File> file;
    if (const auto found = m_ready.find(index); found != m_ready.end()) {
        file.swap(found->second.file);
        m_readyBytes -= file ? file->bytes.size() : 0;
        m_ready.erase(found);
    }
    wakeReaders();
    return file;
}

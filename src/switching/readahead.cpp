#include "switching/readahead.h"

ReadAhead::ReadAhead(Search search, bool caseSensitive, qsizetype budget)
    : m_search(std::move(search)),
      m_budget(budget),
      m_caseSensitive(caseSensitive),
      m_thread([this] { run(); })
{
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
    m_readerWakes.notify_one();
    m_thread.join();
}

void ReadAhead::setCaseSensitive(bool caseSensitive)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_caseSensitive = caseSensitive;
}

void ReadAhead::add(const QStringList &paths)
{
    bool wake;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        wake = m_readerWaitsForList;
        m_paths += paths;
    }
    if (wake)
        m_readerWakes.notify_one();
}

void ReadAhead::endList()
{
    bool wake;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_listEnded = true;
        wake = m_readerWaitsForList;
    }
    if (wake)
        m_readerWakes.notify_one();
}

namespace {

// The files the caller waits for once it has caught up with the reading thread.
constexpr qsizetype batchFiles = 32;

} // namespace

void ReadAhead::run()
{
    for (qsizetype index = 0;; ++index) {
        bool caseSensitive;
        QString path;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_stop && !m_ready.empty() && m_readyBytes >= m_budget) {
                // The caller takes what there is; the reading goes on once half the room is free.
                m_readerWaitsForRoom = true;
                if (m_takerWaitsFor >= 0)
                    m_takerWakes.notify_one();
                m_readerWakes.wait(lock, [&] {
                    return m_stop || m_ready.empty() || m_readyBytes <= m_budget / 2;
                });
                m_readerWaitsForRoom = false;
            }
            index = qMax(index, m_taken); // the caller went past these without waiting
            if (!m_stop && index >= m_paths.size() && !m_listEnded) {
                m_readerWaitsForList = true;
                m_readerWakes.wait(lock,
                                   [&] { return m_stop || index < m_paths.size() || m_listEnded; });
                m_readerWaitsForList = false;
            }
            if (m_stop || index >= m_paths.size())
                return;
            caseSensitive = m_caseSensitive;
            path = m_paths.at(index);
        }

        Entry entry;
        entry.index = index;
        File file;
        file.readAt = fileClockNow();
        if (readFileThenStamp(path, file.bytes, file.stamp, m_budget)) {
            file.readEnd = std::chrono::steady_clock::now();
            file.caseSensitive = caseSensitive;
            file.holdsValue = m_search(file.bytes, caseSensitive);
            entry.file = std::move(file);
        }

        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_readyBytes += entry.file ? entry.file->bytes.size() : 0;
            m_ready.push_back(std::move(entry));
            m_reached = index + 1;
            wake = m_takerWaitsFor >= 0 && m_reached >= m_takerWaitsFor;
        }
        if (wake)
            m_takerWakes.notify_one();
    }
}

std::optional<ReadAhead::File> ReadAhead::take(qsizetype index)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_taken = index;
    auto dropBefore = [&] {
        while (!m_ready.empty() && m_ready.front().index < index) {
            m_readyBytes -= m_ready.front().file ? m_ready.front().file->bytes.size() : 0;
            m_ready.pop_front();
        }
    };
    auto wakeReader = [&] {
        if (m_readerWaitsForRoom && (m_ready.empty() || m_readyBytes <= m_budget / 2))
            m_readerWakes.notify_one();
    };
    dropBefore();
    wakeReader();
    if (m_reached <= index) {
        // Caught up with the reading thread: woken once it is a batch ahead, has read the last
        // file or has no more room.
        m_takerWaitsFor = qMin(index + batchFiles, m_paths.size());
        m_takerWakes.wait(lock, [&] {
            return m_reached >= m_takerWaitsFor || (m_readerWaitsForRoom && m_reached > index);
        });
        m_takerWaitsFor = -1;
        dropBefore();
    }
    m_taken = index + 1;
    std::optional<File> file;
    if (!m_ready.empty() && m_ready.front().index == index) {
        file.swap(m_ready.front().file);
        m_ready.pop_front();
        m_readyBytes -= file ? file->bytes.size() : 0;
    }
    wakeReader();
    return file;
}

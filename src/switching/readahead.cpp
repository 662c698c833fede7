#include "switching/readahead.h"

ReadAhead::ReadAhead(QStringList paths, Search search, bool caseSensitive, qsizetype budget)
    : m_paths(std::move(paths)),
      m_search(std::move(search)),
      m_budget(budget),
      m_caseSensitive(caseSensitive),
      m_thread([this] { run(); })
{
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ReadAhead::setCaseSensitive(bool caseSensitive)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_caseSensitive = caseSensitive;
}

void ReadAhead::run()
{
    for (qsizetype index = 0; index < m_paths.size(); ++index) {
        bool caseSensitive;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock,
                           [&] { return m_stop || m_ready.empty() || m_readyBytes < m_budget; });
            if (m_stop)
                return;
            if (index < m_taken)
                index = m_taken; // the caller went past these without waiting
            if (index >= m_paths.size())
                return;
            caseSensitive = m_caseSensitive;
        }

        Entry entry;
        entry.index = index;
        entry.readAt = fileClockNow();
        const QString &path = m_paths.at(index);
        QByteArray bytes;
        if (readFileBytes(path, bytes, &entry.stamp, m_budget)) {
            File file;
            file.caseSensitive = caseSensitive;
            file.holdsValue = m_search(bytes, caseSensitive);
            file.bytes = std::move(bytes);
            entry.file = std::move(file);
        }

        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_readyBytes += entry.file ? entry.file->bytes.size() : 0;
            m_ready.push_back(std::move(entry));
            m_reached = index + 1;
        }
        m_changed.notify_all();
    }
}

std::optional<ReadAhead::File> ReadAhead::take(qsizetype index, const FileStamp &now)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_taken = index;
    auto dropBefore = [&] {
        while (!m_ready.empty() && m_ready.front().index < index) {
            m_readyBytes -= m_ready.front().file ? m_ready.front().file->bytes.size() : 0;
            m_ready.pop_front();
        }
    };
    dropBefore();
    m_changed.notify_all();
    m_changed.wait(lock, [&] {
        dropBefore();
        return m_reached > index || (!m_ready.empty() && m_ready.front().index >= index);
    });
    m_taken = index + 1;
    std::optional<File> file;
    if (!m_ready.empty() && m_ready.front().index == index) {
        Entry entry = std::move(m_ready.front());
        m_ready.pop_front();
        m_readyBytes -= entry.file ? entry.file->bytes.size() : 0;
        if (entry.file && entry.stamp == now && !entry.stamp.changedRecently(entry.readAt))
            file = std::move(entry.file);
    }
    lock.unlock();
    m_changed.notify_all();
    return file;
}

#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>

// How long the storage of a run takes to answer one request (an open, a read, a stat, a rename),
// as the run measures it, and how many requests it is worth keeping in flight at once: on a local
// disk a request takes microseconds and the processors are what limits a run; on a file share, or
// a disk that an antivirus watches, each one is a round trip of a millisecond or more, and the
// time of a run is the number of requests times the round trip unless many wait at once.
class StoragePace
{
public:
    // MIRABEX_REQUESTS_IN_FLIGHT, when set, fixes how many requests are kept in flight whatever
    // the pace (for a measurement, or to try a run with many requests at once on a quick disk).
    StoragePace()
        : m_fixed(qBound(0, qEnvironmentVariableIntValue("MIRABEX_REQUESTS_IN_FLIGHT"), 256))
    {
    }

    // Requests in flight on a storage that answers at once, and at most.
    static constexpr int fewest = 2;
    static constexpr int most = 48;

    // A request, or a call that makes `requests` of them, took that long.
    void took(std::chrono::nanoseconds duration, int requests = 1)
    {
        const qint64 each = duration.count() / qMax(requests, 1);
        // A running mean that follows the last few dozen requests.
        qint64 mean = m_meanNs.load(std::memory_order_relaxed);
        mean = mean == 0 ? each : mean + (each - mean) / 16;
        m_meanNs.store(mean, std::memory_order_relaxed);
    }
    std::chrono::nanoseconds roundTrip() const
    {
        return std::chrono::nanoseconds(m_meanNs.load(std::memory_order_relaxed));
    }
    // How many requests to keep in flight: as few as the processors need while a request takes
    // less than a tenth of a millisecond, and one more for each 20 µs above, up to `most` (a
    // request of a millisecond): a file server serves dozens at once, and SMB grants a client
    // hundreds of requests in flight.
    int inFlight() const
    {
        if (m_fixed > 0)
            return m_fixed;
        const qint64 mean = m_meanNs.load(std::memory_order_relaxed);
        constexpr qint64 quick = 100000; // 0.1 ms
        if (mean <= quick)
            return fewest;
        return int(qMin<qint64>(most, fewest + (mean - quick) / 20000));
    }

private:
    const int m_fixed;
    std::atomic<qint64> m_meanNs{ 0 };
};

// Times a call for a StoragePace.
class PaceTimer
{
public:
    explicit PaceTimer(StoragePace &pace, int requests = 1)
        : m_pace(pace), m_requests(requests), m_start(std::chrono::steady_clock::now())
    {
    }
    ~PaceTimer() { m_pace.took(std::chrono::steady_clock::now() - m_start, m_requests); }
    PaceTimer(const PaceTimer &) = delete;
    PaceTimer &operator=(const PaceTimer &) = delete;
    void setRequests(int requests) { m_requests = requests; }

private:
    StoragePace &m_pace;
    int m_requests;
    std::chrono::steady_clock::time_point m_start;
};

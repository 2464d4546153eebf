#pragma once

#include <QByteArray>

#include <array>
#include <atomic>
#include <mutex>

// What an operator's Prometheus scrapes: counters and histograms kept with
// atomics on the threads that count them, written out in the Prometheus
// text exposition format.
class Metrics
{
public:
    // The words an entry is answered with, as the game reads them, and the
    // refusals of the HTTP layer.
    enum class Answer { Ok, CannotRankIn, InvalidVersion, Refused, Busy, Error, Count };

    void countEntry(Answer answer);
    void countRequest(int status);
    // One transaction of grouped entries: how many, how long, and whether it committed.
    void countCommit(int entries, double seconds, bool committed);
    void setDatabaseUp(bool up) { m_databaseUp = up; }
    void setOpenConnections(int open) { m_openConnections = open; }

    QByteArray render() const;

private:
    // Kept under the mutex: a count, its sum and its buckets change together.
    template<std::size_t N>
    struct Histogram
    {
        std::array<double, N> bounds;
        std::array<quint64, N> buckets{};
        quint64 count = 0;
        double sum = 0;

        void observe(double value)
        {
            for (std::size_t i = 0; i < N; ++i) {
                if (value <= bounds[i])
                    ++buckets[i];
            }
            ++count;
            sum += value;
        }
    };
    template<std::size_t N>
    static void write(QByteArray &out, const char *name, const char *help, const Histogram<N> &histogram);

    std::array<std::atomic<quint64>, std::size_t(Answer::Count)> m_entries{};
    // Status codes 100 to 599; all others are counted as 0.
    std::array<std::atomic<quint64>, 600> m_requests{};
    mutable std::mutex m_histogramMutex;
    Histogram<9> m_batchSizes{{1, 2, 4, 8, 16, 32, 64, 128, 256}};
    Histogram<12> m_commitSeconds{{0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 5}};
    std::atomic<quint64> m_failedCommits{0};
    std::atomic<bool> m_databaseUp{false};
    std::atomic<int> m_openConnections{0};
};

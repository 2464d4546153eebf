#include "server/Metrics.h"

#include <QLocale>
#include <QString>

namespace {

void header(QByteArray &out, const char *name, const char *help, const char *type)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

QByteArray number(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1(); }

} // namespace

void Metrics::countEntry(Answer answer) { ++m_entries[std::size_t(answer)]; }

void Metrics::countRequest(int status)
{
    ++m_requests[status >= 100 && status < int(m_requests.size()) ? std::size_t(status) : 0];
}

void Metrics::countCommit(int entries, double seconds, bool committed)
{
    if (!committed) {
        ++m_failedCommits;
        return;
    }
    std::lock_guard lock(m_histogramMutex);
    m_batchSizes.observe(entries);
    m_commitSeconds.observe(seconds);
}

template<std::size_t N>
void Metrics::write(QByteArray &out, const char *name, const char *help, const Histogram<N> &histogram)
{
    header(out, name, help, "histogram");
    for (std::size_t i = 0; i < N; ++i)
        out += QByteArray(name) + "_bucket{le=\"" + number(histogram.bounds[i]) + "\"} "
               + QByteArray::number(histogram.buckets[i]) + '\n';
    out += QByteArray(name) + "_bucket{le=\"+Inf\"} " + QByteArray::number(histogram.count) + '\n';
    out += QByteArray(name) + "_sum " + number(histogram.sum) + '\n';
    out += QByteArray(name) + "_count " + QByteArray::number(histogram.count) + '\n';
}

QByteArray Metrics::render() const
{
    static const char *const AnswerLabels[] = {"OK", "CANNOT_RANK_IN", "INVALID_VERSION", "refused", "BUSY",
                                               "ERROR"};
    QByteArray out;
    out.reserve(4096);
    header(out, "tovrika_entries_total",
           "Ranking entries by answer: the game's words, refused for malformed entries.", "counter");
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        out += QByteArray("tovrika_entries_total{answer=\"") + AnswerLabels[i] + "\"} "
               + QByteArray::number(m_entries[i].load()) + '\n';
    header(out, "tovrika_http_requests_total", "HTTP requests answered, by status.", "counter");
    for (std::size_t status = 0; status < m_requests.size(); ++status) {
        if (const quint64 count = m_requests[status].load())
            out += "tovrika_http_requests_total{status=\"" + QByteArray::number(qulonglong(status)) + "\"} "
                   + QByteArray::number(count) + '\n';
    }
    header(out, "tovrika_commit_failures_total", "Transactions of entries that did not commit.", "counter");
    out += "tovrika_commit_failures_total " + QByteArray::number(m_failedCommits.load()) + '\n';
    {
        std::lock_guard lock(m_histogramMutex);
        write(out, "tovrika_commit_batch_entries", "Entries committed together in one transaction.", m_batchSizes);
        write(out, "tovrika_commit_duration_seconds", "Time one committed transaction of entries took.",
              m_commitSeconds);
    }
    header(out, "tovrika_database_up", "1 when the database answered the last time it was asked.", "gauge");
    out += QByteArray("tovrika_database_up ") + (m_databaseUp ? "1" : "0") + '\n';
    header(out, "tovrika_connections_open", "Open HTTP connections on the public address.", "gauge");
    out += "tovrika_connections_open " + QByteArray::number(m_openConnections.load()) + '\n';
    return out;
}

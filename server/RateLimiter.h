#pragma once

#include <QHash>
#include <QString>

#include <deque>

// At most `limit` admissions a minute for each key (a client address, an
// installation identifier): a sliding window of the last minute's times.
class RateLimiter
{
public:
    explicit RateLimiter(int limit, qint64 windowMs = 60000) : m_limit(limit), m_windowMs(windowMs) {}

    // Admits one more for every key at once, or for none of them.
    bool admit(std::initializer_list<QString> keys, qint64 nowMs);
    // Forgets keys with nothing in the window, so memory stays bounded by
    // the last minute's clients.
    void prune(qint64 nowMs);
    qsizetype keyCount() const { return m_times.size(); }

private:
    int m_limit;
    qint64 m_windowMs;
    QHash<QString, std::deque<qint64>> m_times;
};

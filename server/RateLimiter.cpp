#include "server/RateLimiter.h"

bool RateLimiter::admit(std::initializer_list<QString> keys, qint64 nowMs)
{
    if (m_limit <= 0)
        return true;
    for (const QString &key : keys) {
        auto found = m_times.find(key);
        if (found == m_times.end())
            continue;
        std::deque<qint64> &times = found.value();
        while (!times.empty() && times.front() <= nowMs - m_windowMs)
            times.pop_front();
        if (qsizetype(times.size()) >= m_limit)
            return false;
    }
    for (const QString &key : keys)
        m_times[key].push_back(nowMs);
    return true;
}

void RateLimiter::prune(qint64 nowMs)
{
    for (auto it = m_times.begin(); it != m_times.end();) {
        std::deque<qint64> &times = it.value();
        while (!times.empty() && times.front() <= nowMs - m_windowMs)
            times.pop_front();
        it = times.empty() ? m_times.erase(it) : std::next(it);
    }
}

#include "server/PageCache.h"

#include <algorithm>

PageCache::Periods PageCache::periodsAt(qint64 utcMs, const QTimeZone &zone)
{
    return Periods{periodKey(Board::Today, utcMs, zone), periodKey(Board::Week, utcMs, zone)};
}

PageCache::Generation PageCache::generation(qint64 nowMs) const
{
    // A change is counted after its commit, so whatever a reader reads
    // after this is at least as new as the counts.
    return Generation{m_rows.load(), m_data.load(), nowMs};
}

void PageCache::changed(bool rows, qint64 nowMs)
{
    const std::lock_guard lock(m_mutex);
    // What was current until now lacks this commit from now on; a commit
    // is counted after a read that lacks it began, so never before its start.
    if (rows && m_page && m_pageRows == m_rows.load())
        m_pageStaleSince = std::max(nowMs, m_pageReadAt);
    if (!m_visitors.isEmpty() && m_visitorData == m_data.load())
        m_visitorStaleSince = std::max(nowMs, m_visitorReadAt);
    if (rows)
        ++m_rows;
    ++m_data;
}

quint64 PageCache::writerKey(const QString &visitorId, const QString &client)
{
    return visitorId.isEmpty() ? qHashMulti(0, 'a', client) : qHashMulti(0, 'i', visitorId);
}

PageCache::Generation PageCache::owed(quint64 key) const
{
    const std::lock_guard lock(m_mutex);
    Generation owed = m_owedToAll;
    const auto found = m_writers.constFind(key);
    if (found != m_writers.cend()) {
        owed.rows = std::max(owed.rows, found->rows);
        owed.data = std::max(owed.data, found->data);
    }
    return owed;
}

void PageCache::wrote(quint64 key)
{
    const std::lock_guard lock(m_mutex);
    const Generation now = generation();
    m_writers.insert(key, now);
    if (m_writers.size() <= MaxWriters)
        return;
    forgetWritersShown();
    // Nothing has been read since these commits: all wait for a read once.
    if (m_writers.size() > MaxWriters / 2) {
        m_writers.clear();
        m_owedToAll = now;
    }
}

void PageCache::forgetWritersShown()
{
    m_writers.removeIf([this](const auto &writer) {
        return writer.value().rows <= m_pageRows && writer.value().data <= m_visitorData;
    });
}

bool PageCache::mayShow(bool current, bool owedMet, qint64 staleSinceMs, qint64 nowMs, bool *refresh) const
{
    if (!owedMet)
        return false;
    if (current)
        return true;
    if (staleSinceMs <= 0 || nowMs - staleSinceMs >= StaleMs)
        return false;
    if (refresh && nowMs - staleSinceMs >= RefreshMs && !m_refreshing.exchange(true))
        *refresh = true;
    return true;
}

std::shared_ptr<const Pages::RenderedPage> PageCache::page(const Periods &periods) const
{
    return page(periods, generation(), 0, nullptr);
}

std::shared_ptr<const Pages::RenderedPage> PageCache::page(const Periods &periods, const Generation &owed,
                                                           qint64 nowMs, bool *refresh) const
{
    const std::lock_guard lock(m_mutex);
    if (!m_page || m_pagePeriods != periods
        || !mayShow(m_pageRows == m_rows.load(), m_pageRows >= owed.rows, m_pageStaleSince, nowMs, refresh))
        return nullptr;
    return m_page;
}

std::optional<QList<VisitorStanding>> PageCache::standings(const Periods &periods, const QString &visitorId) const
{
    return standings(periods, visitorId, generation(), 0, nullptr);
}

std::optional<QList<VisitorStanding>> PageCache::standings(const Periods &periods, const QString &visitorId,
                                                           const Generation &owed, qint64 nowMs,
                                                           bool *refresh) const
{
    const std::lock_guard lock(m_mutex);
    if (m_visitorPeriods != periods)
        return std::nullopt;
    const auto found = m_visitors.constFind(visitorId);
    if (found == m_visitors.cend()
        || !mayShow(m_visitorData == m_data.load(), m_visitorData >= owed.data, m_visitorStaleSince, nowMs, refresh))
        return std::nullopt;
    return *found;
}

void PageCache::storePage(const Periods &periods, Generation read, std::shared_ptr<const Pages::RenderedPage> page)
{
    const std::lock_guard lock(m_mutex);
    // A read that took longer than a later one leaves the later one kept:
    // what a writer was shown never goes back.
    if (read.rows < m_pageRows)
        return;
    m_page = std::move(page);
    m_pagePeriods = periods;
    m_pageRows = read.rows;
    m_pageReadAt = read.atMs;
    m_pageStaleSince = read.rows == m_rows.load() ? 0 : read.atMs;
}

void PageCache::storeStandings(const Periods &periods, Generation read, const QString &visitorId,
                               QList<VisitorStanding> standings)
{
    const std::lock_guard lock(m_mutex);
    if (read.data < m_visitorData)
        return;
    if (m_visitorPeriods != periods || m_visitorData != read.data || m_visitors.size() >= MaxVisitors) {
        m_visitors.clear();
        m_visitorPeriods = periods;
        m_visitorData = read.data;
        m_visitorReadAt = read.atMs;
        m_visitorStaleSince = read.data == m_data.load() ? 0 : read.atMs;
    }
    m_visitors.insert(visitorId, std::move(standings));
}

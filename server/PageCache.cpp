#include "server/PageCache.h"

PageCache::Periods PageCache::periodsAt(qint64 utcMs, const QTimeZone &zone)
{
    return Periods{periodKey(Board::Today, utcMs, zone), periodKey(Board::Week, utcMs, zone)};
}

PageCache::Generation PageCache::generation() const
{
    // A change is counted after its commit, so whatever a reader reads
    // after this is at least as new as the counts.
    return Generation{m_rows.load(), m_data.load()};
}

void PageCache::changed(bool rows)
{
    if (rows)
        ++m_rows;
    ++m_data;
}

std::shared_ptr<const Pages::RenderedPage> PageCache::page(const Periods &periods) const
{
    const std::lock_guard lock(m_mutex);
    if (!m_page || m_pagePeriods != periods || m_pageRows != m_rows.load())
        return nullptr;
    return m_page;
}

std::optional<QList<VisitorStanding>> PageCache::standings(const Periods &periods, const QString &visitorId) const
{
    const std::lock_guard lock(m_mutex);
    if (m_visitorPeriods != periods || m_visitorData != m_data.load())
        return std::nullopt;
    const auto found = m_visitors.constFind(visitorId);
    if (found == m_visitors.cend())
        return std::nullopt;
    return *found;
}

void PageCache::storePage(const Periods &periods, Generation read, std::shared_ptr<const Pages::RenderedPage> page)
{
    const std::lock_guard lock(m_mutex);
    // Read before a change that has come since: the next request reads again.
    if (read.rows != m_rows.load())
        return;
    m_page = std::move(page);
    m_pagePeriods = periods;
    m_pageRows = read.rows;
}

void PageCache::storeStandings(const Periods &periods, Generation read, const QString &visitorId,
                               QList<VisitorStanding> standings)
{
    const std::lock_guard lock(m_mutex);
    if (read.data != m_data.load())
        return;
    if (m_visitorPeriods != periods || m_visitorData != read.data || m_visitors.size() >= MaxVisitors) {
        m_visitors.clear();
        m_visitorPeriods = periods;
        m_visitorData = read.data;
    }
    m_visitors.insert(visitorId, std::move(standings));
}

#pragma once

#include "server/Pages.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

// The ranking page kept between changes of the boards, so that a request
// for it costs a copy of bytes instead of reading and rendering six boards.
// Two counts tell what a change touches: one goes up with every commit
// (totals and visitors' own rows), the other only when first rows may have
// changed (an entry ranked in, an operator's change, another process's
// commit). What is kept belongs to the periods of the moment it was read,
// so a new day or week is rendered afresh. Used from the HTTP thread, the
// store's threads and the reader's, each call under one short lock.
class PageCache
{
public:
    // Today's and this week's period keys at a moment.
    struct Periods
    {
        qint64 today = 0;
        qint64 week = 0;
        bool operator==(const Periods &) const = default;
    };
    static Periods periodsAt(qint64 utcMs, const QTimeZone &zone);

    // The counts as a reader sees them before it reads: what it stores is
    // kept only while neither has moved on.
    struct Generation
    {
        quint64 rows = 0;
        quint64 data = 0;
    };
    Generation generation() const;

    // Something was committed; rows when first rows may have changed.
    void changed(bool rows);

    // The rendered page if kept.
    std::shared_ptr<const Pages::RenderedPage> page(const Periods &periods) const;
    // A visitor's standings if kept.
    std::optional<QList<VisitorStanding>> standings(const Periods &periods, const QString &visitorId) const;

    void storePage(const Periods &periods, Generation read, std::shared_ptr<const Pages::RenderedPage> page);
    void storeStandings(const Periods &periods, Generation read, const QString &visitorId,
                        QList<VisitorStanding> standings);

    // Visitors kept per change of the boards; more clear the list.
    static constexpr int MaxVisitors = 4096;

private:
    mutable std::mutex m_mutex;
    std::atomic<quint64> m_rows{0};
    std::atomic<quint64> m_data{0};
    std::shared_ptr<const Pages::RenderedPage> m_page;
    Periods m_pagePeriods;
    quint64 m_pageRows = 0;
    QHash<QString, QList<VisitorStanding>> m_visitors;
    Periods m_visitorPeriods;
    quint64 m_visitorData = 0;
};

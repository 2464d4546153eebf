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
// so a new day or week is rendered afresh.
//
// A request sees its own entries at once: each commit is counted before
// its entry is answered, and a request is never shown what was read before
// the last commit of its own installation (or of its address, when it
// names none). Others' entries may wait for the next read, kept for at
// most StaleMs after they were committed: while entries rank in all the
// time, a page is not rendered again for every request, and the visitor is
// not kept waiting for it; a read is asked for in the background once the
// page has lacked a commit for RefreshMs. A page that stayed current through
// a quiet spell is not old when commits start again: it lacks nothing until
// the first of them.
//
// Used from the HTTP thread, the store's threads and the reader's, each
// call under one short lock.
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

    // The counts as a reader sees them before it reads, and when (a steady
    // clock's milliseconds): what it stores shows at least these.
    struct Generation
    {
        quint64 rows = 0;
        quint64 data = 0;
        qint64 atMs = 0;
    };
    Generation generation(qint64 nowMs = 0) const;

    // Something was committed at nowMs (the steady clock, as for reads);
    // rows when first rows may have changed.
    void changed(bool rows, qint64 nowMs = 0);

    // Whose own entries a request must be shown: its installation's, or its
    // address's when it names none. Keys that collide only make a request
    // wait for a fresh read.
    static quint64 writerKey(const QString &visitorId, const QString &client);
    // What a request is owed: the counts after the last commit of its own.
    Generation owed(quint64 key) const;
    // key's entry was committed and counted; called before it is answered.
    void wrote(quint64 key);

    // The kept page or standings read since the last change.
    std::shared_ptr<const Pages::RenderedPage> page(const Periods &periods) const;
    std::optional<QList<VisitorStanding>> standings(const Periods &periods, const QString &visitorId) const;
    // Those that may be shown to a request owed what owed says, at nowMs;
    // refresh, when given, comes back true (once until refreshed()) when
    // what is shown is old enough for a read in the background.
    std::shared_ptr<const Pages::RenderedPage> page(const Periods &periods, const Generation &owed, qint64 nowMs,
                                                    bool *refresh) const;
    std::optional<QList<VisitorStanding>> standings(const Periods &periods, const QString &visitorId,
                                                    const Generation &owed, qint64 nowMs, bool *refresh) const;
    // The background read asked for has been made.
    void refreshed() { m_refreshing = false; }

    // Each keeps what it was given if it is newer than what is kept.
    void storePage(const Periods &periods, Generation read, std::shared_ptr<const Pages::RenderedPage> page);
    void storeStandings(const Periods &periods, Generation read, const QString &visitorId,
                        QList<VisitorStanding> standings);

    // Visitors kept per change of the boards; more clear the list.
    static constexpr int MaxVisitors = 4096;
    // Writers remembered; more make every request wait for a fresh read once.
    static constexpr int MaxWriters = 65536;
    static constexpr qint64 StaleMs = 1000;
    static constexpr qint64 RefreshMs = 200;

private:
    // Whether what has lacked a commit since staleSinceMs may be shown at
    // nowMs to one owed owed.
    bool mayShow(bool current, bool owedMet, qint64 staleSinceMs, qint64 nowMs, bool *refresh) const;
    void forgetWritersShown();

    mutable std::mutex m_mutex;
    std::atomic<quint64> m_rows{0};
    std::atomic<quint64> m_data{0};
    mutable std::atomic<bool> m_refreshing{false};
    std::shared_ptr<const Pages::RenderedPage> m_page;
    Periods m_pagePeriods;
    quint64 m_pageRows = 0;
    qint64 m_pageReadAt = 0;
    // When the first commit that the kept page lacks was made: its read's
    // start when it lacked one already, else the commit's own time.
    qint64 m_pageStaleSince = 0;
    QHash<QString, QList<VisitorStanding>> m_visitors;
    Periods m_visitorPeriods;
    quint64 m_visitorData = 0;
    qint64 m_visitorReadAt = 0;
    qint64 m_visitorStaleSince = 0;
    // Writers whose last commit is newer than what is kept, and what every
    // request is owed since the list was last cleared.
    QHash<quint64, Generation> m_writers;
    Generation m_owedToAll;
};

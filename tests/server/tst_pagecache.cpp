// Checks when the kept ranking page and a visitor's kept standings are
// served and when they must be read again: a commit that ranks nobody in
// keeps the page but not the standings, one that may change first rows
// keeps neither, a read that began before a change is never current, a new
// day reads afresh, and the visitors kept per change are bounded. What is no
// longer current is shown for a while to others, never to the writer; that
// while counts from the first commit it lacks, not from its read.
#include "server/PageCache.h"

#include <QtTest>

class tst_PageCache : public QObject
{
    Q_OBJECT

private slots:
    void changesDecideWhatIsKept_data();
    void changesDecideWhatIsKept();
    void readBeforeAChangeIsNotKept();
    void visitorsAreBounded();
    void othersMayWaitAWhileTheWriterNever();
    void aQuietSpellDoesNotAgeThePage();
};

namespace {

const PageCache::Periods Day{20261208, 20261207};

std::shared_ptr<const Pages::RenderedPage> pageOf(const char *bytes)
{
    auto page = std::make_shared<Pages::RenderedPage>();
    page->bytes = bytes;
    return page;
}

QList<VisitorStanding> standingOf(qint64 total)
{
    VisitorStanding own;
    own.total = total;
    return {own};
}

// Fills the cache with a page and one visitor's standings, read now.
void fill(PageCache &cache)
{
    cache.storePage(Day, cache.generation(), pageOf("page"));
    cache.storeStandings(Day, cache.generation(), QStringLiteral("1234"), standingOf(7));
}

} // namespace

void tst_PageCache::changesDecideWhatIsKept_data()
{
    QTest::addColumn<int>("change"); // 0 none, 1 totals only, 2 rows
    QTest::addColumn<qint64>("nextDay");
    QTest::addColumn<bool>("pageKept");
    QTest::addColumn<bool>("standingsKept");
    QTest::newRow("nothing changed") << 0 << qint64(0) << true << true;
    QTest::newRow("a commit that ranks nobody in") << 1 << qint64(0) << true << false;
    QTest::newRow("first rows may have changed") << 2 << qint64(0) << false << false;
    QTest::newRow("a new day") << 0 << qint64(20261209) << false << false;
}

void tst_PageCache::changesDecideWhatIsKept()
{
    QFETCH(int, change);
    QFETCH(qint64, nextDay);
    QFETCH(bool, pageKept);
    QFETCH(bool, standingsKept);
    PageCache cache;
    fill(cache);
    if (change > 0)
        cache.changed(change == 2);
    const PageCache::Periods periods = nextDay ? PageCache::Periods{nextDay, Day.week} : Day;
    QCOMPARE(cache.page(periods) != nullptr, pageKept);
    QCOMPARE(cache.standings(periods, QStringLiteral("1234")).has_value(), standingsKept);
    QVERIFY(!cache.standings(periods, QStringLiteral("5678")));
}

void tst_PageCache::readBeforeAChangeIsNotKept()
{
    PageCache cache;
    const PageCache::Generation before = cache.generation();
    cache.changed(true);
    cache.storePage(Day, before, pageOf("old"));
    cache.storeStandings(Day, before, QStringLiteral("1234"), standingOf(7));
    QVERIFY(!cache.page(Day));
    QVERIFY(!cache.standings(Day, QStringLiteral("1234")));
    // Read again after the change: kept.
    fill(cache);
    QCOMPARE(cache.page(Day)->bytes, QByteArray("page"));
    QCOMPARE(cache.standings(Day, QStringLiteral("1234"))->first().total, 7);
}

void tst_PageCache::visitorsAreBounded()
{
    PageCache cache;
    for (int i = 0; i <= PageCache::MaxVisitors; ++i)
        cache.storeStandings(Day, cache.generation(), QString::number(i), standingOf(i));
    // The one past the bound cleared the others and is kept alone.
    QVERIFY(!cache.standings(Day, QStringLiteral("0")));
    QCOMPARE(cache.standings(Day, QString::number(PageCache::MaxVisitors))->first().total,
             qint64(PageCache::MaxVisitors));
}

void tst_PageCache::othersMayWaitAWhileTheWriterNever()
{
    PageCache cache;
    const QString visitor = QStringLiteral("1234");
    const quint64 writer = PageCache::writerKey(visitor, QStringLiteral("10.0.0.1"));
    cache.storePage(Day, cache.generation(1000), pageOf("old"));
    cache.storeStandings(Day, cache.generation(1000), visitor, standingOf(7));
    cache.changed(true);
    cache.wrote(writer);
    const quint64 stranger = PageCache::writerKey(QStringLiteral("5678"), QString());
    const PageCache::Generation others = cache.owed(stranger), own = cache.owed(writer);
    bool refresh = false;
    QVERIFY(cache.page(Day, others, 1000 + PageCache::RefreshMs - 1, &refresh));
    QVERIFY(cache.standings(Day, visitor, others, 1001, &refresh));
    QVERIFY(!refresh);
    QVERIFY(!cache.page(Day, own, 1001, &refresh));
    QVERIFY(!cache.standings(Day, visitor, own, 1001, &refresh));
    // Old enough: a read in the background is asked for once; past the bound, none is shown.
    QVERIFY(cache.page(Day, others, 1000 + PageCache::RefreshMs, &refresh) && refresh);
    refresh = false;
    QVERIFY(cache.standings(Day, visitor, others, 1000 + PageCache::RefreshMs, &refresh) && !refresh);
    QVERIFY(!cache.page(Day, others, 1000 + PageCache::StaleMs, &refresh));
    // A read begun before a later one is kept does not take its place.
    const PageCache::Generation slow = cache.generation(1400);
    cache.changed(true);
    cache.storePage(Day, cache.generation(1500), pageOf("new"));
    cache.storePage(Day, slow, pageOf("older"));
    QCOMPARE(cache.page(Day)->bytes, QByteArray("new"));
    QVERIFY(cache.page(Day, own, 1501, &refresh));
    // Too many writers with nothing read since (the last one is one too
    // many beside the writer above): everyone waits for the next read.
    for (int i = 0; i < PageCache::MaxWriters; ++i) {
        cache.changed(false);
        cache.wrote(PageCache::writerKey(QString(), QString::number(i)));
    }
    QCOMPARE(cache.owed(stranger).data, cache.generation().data);
}

void tst_PageCache::aQuietSpellDoesNotAgeThePage()
{
    PageCache cache;
    const QString visitor = QStringLiteral("1234");
    cache.storePage(Day, cache.generation(1000), pageOf("quiet"));
    cache.storeStandings(Day, cache.generation(1000), visitor, standingOf(7));
    // Read at 1000, current until a commit at 4000: kept a while from then.
    cache.changed(true, 4000);
    const PageCache::Generation others = cache.owed(PageCache::writerKey(QStringLiteral("5678"), QString()));
    bool refresh = false;
    QVERIFY(cache.page(Day, others, 4000 + PageCache::RefreshMs - 1, &refresh) && !refresh);
    QVERIFY(cache.standings(Day, visitor, others, 4000 + PageCache::RefreshMs - 1, &refresh) && !refresh);
    QVERIFY(cache.page(Day, others, 4000 + PageCache::RefreshMs, &refresh) && refresh);
    QVERIFY(!cache.page(Day, others, 4000 + PageCache::StaleMs, nullptr));
    QVERIFY(!cache.standings(Day, visitor, others, 4000 + PageCache::StaleMs, nullptr));
    // A later commit does not make it younger.
    cache.changed(true, 4500);
    QVERIFY(!cache.page(Day, others, 4000 + PageCache::StaleMs, nullptr));
}

QTEST_GUILESS_MAIN(tst_PageCache)
#include "tst_pagecache.moc"

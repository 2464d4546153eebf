// Checks the boards as the store keeps them in a real database (SQLite, or
// PostgreSQL with TOVRIKA_TEST_DATABASE=postgresql): one row an
// installation, its best score with the name it was sent with, order by
// score then by the moment first reached, competition ranks, the answer
// for the first rows, the log of every entry, the visitor's own row, and a
// start from a snapshot of the boards.
#include "server/BoardSnapshot.h"
#include "server/RankingStore.h"
#include "server/support/TestDatabase.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// 2026-12-07 12:00 UTC, a Monday.
constexpr qint64 Monday = 1796644800000;
constexpr qint64 Day = 86400000;

PendingEntry entry(int score, const QString &name, const QString &id, qint64 at, int mode = 0)
{
    return PendingEntry{RankingProtocol::Entry{score, mode, name, id}, QStringLiteral("127.0.0.1"), at};
}

// The log and the board rows of a database, one text line each, in an order
// that does not hang on the database's collation.
QStringList contents(const DatabaseConfig &config)
{
    QStringList lines;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(config.driverName(), QStringLiteral("contents"));
        config.applyTo(db);
        QSqlQuery query(db);
        const std::pair<const char *, int> tables[] = {
            {"SELECT id, CASE WHEN kind = 0 THEN at_ms ELSE 0 END, client, uid, name, mode, score, answer, removed, kind "
             "FROM entry_log", 10}};
        for (const auto &[sql, columns] : tables) {
            if (!db.open() || !query.exec(QLatin1String(sql)))
                return {QStringLiteral("cannot read: ") + query.lastError().text()};
            while (query.next()) {
                QStringList fields{QString::fromLatin1(sql).section(u' ', -1)};
                for (int i = 0; i < columns; ++i)
                    fields << query.value(i).toString();
                lines << fields.join(u'|');
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("contents"));
    lines.sort();
    return lines;
}

} // namespace

class tst_RankingStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bestScorePerInstallation();
    void equalScoresKeepTheEarlierFirstAndShareARank();
    void answerIsOkOnlyAmongTheFirstRows();
    void todayAndWeekStartAfresh();
    void visitorBelowTheFirstRowsGetsRankAndShare();
    void everyEntryIsLogged();
    void schemaIsCreatedOnceAndVersioned();
    void namesAreStoredAsSent();
    void batchesAnswerAsOneByOneOnSqlite();
    void commitsNotifyTheBoards();
    void zoneBelongsToTheDatabase();
    void foreignDatabasesAreRefused_data();
    void foreignDatabasesAreRefused();
    void version3MigratesWithTheSameBoards();
    void snapshotStandsInForTheFoldOnlyWhenItFits();

private:
    std::unique_ptr<RankingStore> openStore(int top);
    QList<EntryAnswer> submit(RankingStore &store, const QList<PendingEntry> &entries);

    TestDatabase m_databases;
    QString m_url;
    DatabaseConfig m_config;
};

void tst_RankingStore::init()
{
    QString error;
    m_url = m_databases.freshUrl(&error);
    QVERIFY2(!m_url.isEmpty(), qPrintable(error));
    const ParsedDatabase parsed = parseDatabaseUrl(m_url);
    QVERIFY2(parsed.ok, qPrintable(parsed.error));
    m_config = parsed.config;
}

void tst_RankingStore::cleanup() {}

std::unique_ptr<RankingStore> tst_RankingStore::openStore(int top)
{
    auto store = std::make_unique<RankingStore>(m_config, top, QTimeZone("Asia/Tokyo"), QStringLiteral("test"));
    QString error;
    if (!store->open(&error))
        qWarning("%s", qPrintable(error));
    return store;
}

QList<EntryAnswer> tst_RankingStore::submit(RankingStore &store, const QList<PendingEntry> &entries)
{
    const std::optional<QList<EntryAnswer>> answers = store.submit(entries);
    if (!answers)
        qWarning("%s", qPrintable(store.lastError()));
    return answers.value_or(QList<EntryAnswer>());
}

void tst_RankingStore::bestScorePerInstallation()
{
    auto store = openStore(100);
    QCOMPARE(submit(*store, {entry(10, "Taro", "1", Monday)}).size(), 1);
    submit(*store, {entry(8, "Lower", "1", Monday + 1000)});
    std::optional<BoardView> view = store->board(0, Board::All, QString(), Monday + 2000);
    QVERIFY(view);
    QCOMPARE(view->rows.size(), 1);
    QCOMPARE(view->rows[0].name, QStringLiteral("Taro"));
    QCOMPARE(view->rows[0].score, 10);
    QCOMPARE(view->rows[0].reachedMs, Monday);

    // A better score replaces the row, with the name it was sent with.
    submit(*store, {entry(15, "Jiro", "1", Monday + 3000)});
    view = store->board(0, Board::All, QString(), Monday + 4000);
    QCOMPARE(view->rows.size(), 1);
    QCOMPARE(view->rows[0].name, QStringLiteral("Jiro"));
    QCOMPARE(view->rows[0].score, 15);
    QCOMPARE(view->rows[0].reachedMs, Monday + 3000);
    QCOMPARE(view->total, 1);
    // The other mode is a board of its own.
    QVERIFY(store->board(1, Board::All, QString(), Monday)->rows.isEmpty());
}

void tst_RankingStore::equalScoresKeepTheEarlierFirstAndShareARank()
{
    auto store = openStore(100);
    submit(*store, {entry(20, "Late", "3", Monday + 300), entry(30, "Top", "1", Monday + 500),
                    entry(20, "Early", "2", Monday + 100), entry(5, "Last", "4", Monday)});
    // Sending the same score again does not make a row newer.
    submit(*store, {entry(20, "Early", "2", Monday + 900)});
    const std::optional<BoardView> view = store->board(0, Board::All, QString(), Monday + 1000);
    QVERIFY(view);
    QStringList names;
    QList<int> ranks;
    for (const BoardRow &row : view->rows) {
        names << row.name;
        ranks << row.rank;
    }
    QCOMPARE(names, (QStringList{"Top", "Early", "Late", "Last"}));
    QCOMPARE(ranks, (QList<int>{1, 2, 2, 4}));
}

void tst_RankingStore::answerIsOkOnlyAmongTheFirstRows()
{
    auto store = openStore(2);
    QCOMPARE(submit(*store, {entry(50, "A", "1", Monday), entry(40, "B", "2", Monday + 1)}),
             (QList<EntryAnswer>{EntryAnswer::Ok, EntryAnswer::Ok}));
    // Third place on every board: not among the first two.
    QCOMPARE(submit(*store, {entry(30, "C", "3", Monday + 2)}), QList<EntryAnswer>{EntryAnswer::CannotRankIn});
    // An equal score reached later shares the second rank: it ranks in, and
    // the first rows show it beside the other.
    QCOMPARE(submit(*store, {entry(40, "D", "4", Monday + 3)}), QList<EntryAnswer>{EntryAnswer::Ok});
    QCOMPARE(store->board(0, Board::All, QString(), Monday + 3)->rows.size(), 3);
    QCOMPARE(store->board(0, Board::All, QString(), Monday + 3)->rows.last().rank, 2);
    // A lower score than the installation's own best cannot stand anywhere.
    QCOMPARE(submit(*store, {entry(10, "A", "1", Monday + 4)}), QList<EntryAnswer>{EntryAnswer::CannotRankIn});
    // The same best again still stands first.
    QCOMPARE(submit(*store, {entry(50, "A", "1", Monday + 5)}), QList<EntryAnswer>{EntryAnswer::Ok});
    // Tomorrow's board is empty: a low score ranks in there.
    QCOMPARE(submit(*store, {entry(1, "E", "5", Monday + Day)}), QList<EntryAnswer>{EntryAnswer::Ok});
}

void tst_RankingStore::todayAndWeekStartAfresh()
{
    auto store = openStore(100);
    submit(*store, {entry(10, "A", "1", Monday), entry(20, "B", "2", Monday + Day)});
    // Sunday of the same week, and the Monday after (Tokyo time).
    const qint64 sunday = Monday + 6 * Day;
    QCOMPARE(store->board(0, Board::Today, QString(), sunday)->rows.size(), 0);
    QCOMPARE(store->board(0, Board::Week, QString(), sunday)->rows.size(), 2);
    QCOMPARE(store->board(0, Board::Today, QString(), Monday + Day)->rows.size(), 1);
    QCOMPARE(store->board(0, Board::Week, QString(), Monday + 7 * Day)->rows.size(), 0);
    QCOMPARE(store->board(0, Board::All, QString(), Monday + 7 * Day)->rows.size(), 2);
    // Two days on, Monday's board is closed and let go: an entry stamped then
    // (another server's clock far behind) counts on the boards still open.
    submit(*store, {entry(30, "C", "3", Monday + 3 * Day), entry(40, "D", "4", Monday)});
    QCOMPARE(store->board(0, Board::Today, QString(), Monday)->rows.size(), 0);
    QCOMPARE(store->board(0, Board::Week, QString(), Monday + 3 * Day)->rows.size(), 4);
    QCOMPARE(store->board(0, Board::All, QString(), Monday + 3 * Day)->rows.size(), 4);
}

void tst_RankingStore::visitorBelowTheFirstRowsGetsRankAndShare()
{
    auto store = openStore(3);
    QList<PendingEntry> entries;
    for (int i = 0; i < 8; ++i)
        entries << entry(100 - i * 10, QStringLiteral("P%1").arg(i), QString::number(i + 1), Monday + i);
    submit(*store, entries);
    std::optional<BoardView> view = store->board(0, Board::All, QStringLiteral("7"), Monday + 100);
    QVERIFY(view);
    QCOMPARE(view->rows.size(), 3);
    QVERIFY(view->visitorBelow);
    QCOMPARE(view->visitorBelow->rank, 7);
    QCOMPARE(view->visitorBelow->name, QStringLiteral("P6"));
    QCOMPARE(view->total, 8);
    QCOMPARE(shareText(view->visitorBelow->rank, view->total), QStringLiteral("上位 87.5%"));
    // A visitor among the first rows needs no extra row; an unknown one gets none.
    QVERIFY(!store->board(0, Board::All, QStringLiteral("2"), Monday + 100)->visitorBelow);
    QVERIFY(!store->board(0, Board::All, QStringLiteral("999"), Monday + 100)->visitorBelow);
}

void tst_RankingStore::everyEntryIsLogged()
{
    auto store = openStore(1);
    submit(*store, {entry(9, "A", "1", Monday), entry(3, "B", "2", Monday + 1)});
    store->close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), QStringLiteral("inspect"));
        m_config.applyTo(db);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT client, uid, name, mode, score, answer FROM entry_log ORDER BY id")));
        QStringList rows;
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < 6; ++i)
                fields << query.value(i).toString();
            rows << fields.join(u',');
        }
        QCOMPARE(rows, (QStringList{"127.0.0.1,1,A,0,9,OK", "127.0.0.1,2,B,0,3,CANNOT_RANK_IN"}));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
}

void tst_RankingStore::schemaIsCreatedOnceAndVersioned()
{
    {
        auto store = openStore(100);
        submit(*store, {entry(9, "A", "1", Monday)});
    }
    // Opening again keeps the boards.
    auto store = openStore(100);
    QCOMPARE(store->board(0, Board::All, QString(), Monday)->rows.size(), 1);
    store->close();
    // A database of a newer server, or one whose version is in doubt, is not touched.
    const std::pair<const char *, const char *> edits[] = {
        {"UPDATE schema_version SET version = 99", "newer"},
        {"UPDATE schema_version SET version = 1; INSERT INTO schema_version (version) VALUES (7)", "2 rows"},
    };
    for (const auto &[edit, word] : edits) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), QStringLiteral("edit"));
            m_config.applyTo(db);
            QVERIFY(db.open());
            QSqlQuery query(db);
            for (const QString &statement : QString::fromLatin1(edit).split(QStringLiteral("; ")))
                QVERIFY(query.exec(statement));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("edit"));
        RankingStore edited(m_config, 100, QTimeZone::utc(), QStringLiteral("test2"));
        QString error;
        QVERIFY(!edited.open(&error));
        QVERIFY2(error.contains(QLatin1String(word)), qPrintable(error));
    }
}

void tst_RankingStore::namesAreStoredAsSent()
{
    // What would end or split an element of an array or a quoted string.
    const QStringList names{"\"", "\\", "a,b", "{x}", "}", "NULL", " lead", "tail ", "'", "\\\"", "{\"a\",\"b\"}",
                            "tab\there", "new\nline", "日本語", "😀", "$body$", "%OK%"};
    QList<PendingEntry> entries;
    for (qsizetype i = 0; i < names.size(); ++i)
        entries << entry(int(i), names[i], QString::number(i + 1), Monday + i);
    entries[0].client = QStringLiteral("\"\\,{}");
    auto store = openStore(100);
    QCOMPARE(submit(*store, entries).size(), names.size());
    const std::optional<BoardView> view = store->board(0, Board::All, QString(), Monday + 100);
    QVERIFY(view);
    QStringList shown;
    for (const BoardRow &row : view->rows)
        shown.prepend(row.name); // lowest score first, as sent
    QCOMPARE(shown, names);
    const QStringList lines = contents(m_config);
    QVERIFY2(lines.contains(QStringLiteral("entry_log|1|%1|\"\\,{}|1|\"|0|0|OK|0|0").arg(Monday)),
             qPrintable(lines.join(u'\n')));
}

void tst_RankingStore::batchesAnswerAsOneByOneOnSqlite()
{
    if (!TestDatabase::isPostgres())
        QSKIP("compares PostgreSQL's batches with SQLite's statements; the PostgreSQL run does");
    QTemporaryDir dir;
    const DatabaseConfig sqlite = parseDatabaseUrl(QStringLiteral("sqlite:") + dir.filePath("same.sqlite")).config;
    RankingStore reference(sqlite, 3, QTimeZone("Asia/Tokyo"), QStringLiteral("reference"));
    QVERIFY(reference.open(nullptr));
    auto store = openStore(3);
    // Ranked in and not, equal scores reached later, a lower and a better
    // score of the same ID within one batch, the other mode, a banned ID, a
    // new day, with rows and counts carried from batch to batch; an equal
    // score again at the score that fills the first rows.
    const QList<QList<PendingEntry>> batches{
        {entry(50, "A", "1", Monday), entry(40, "B", "2", Monday + 1), entry(40, "C", "3", Monday + 2),
         entry(30, "D", "4", Monday + 3), entry(60, "A2", "1", Monday + 4), entry(45, "E", "5", Monday + 5, 1),
         entry(40, "B", "2", Monday + 6), entry(10, "A3", "1", Monday + 7), entry(40, "C", "3", Monday + 8)},
        {entry(40, "B", "2", Monday + 9), entry(99, "F", "6", Monday + 10), entry(45, "C2", "3", Monday + 11),
         entry(40, "G", "7", Monday + 12), entry(45, "H", "8", Monday + 12), entry(1, "I", "9", Monday + Day)},
        {entry(99, "F", "6", Monday + Day + 1), entry(45, "C", "3", Monday + Day + 2),
         entry(61, "J", "10", Monday + 2 * Day), entry(45, "H", "8", Monday + 2 * Day)},
        // Below every board's first rows: placed together until an ID comes
        // again or an entry is ranked, each raised, kept or new as one by one.
        {entry(70, "K", "11", Monday + 2 * Day + 1), entry(65, "L", "12", Monday + 2 * Day + 2)},
        {entry(5, "M", "13", Monday + 2 * Day + 3), entry(20, "D2", "4", Monday + 2 * Day + 4),
         entry(35, "D3", "4", Monday + 2 * Day + 5), entry(80, "N", "14", Monday + 2 * Day + 6),
         entry(6, "M2", "13", Monday + 2 * Day + 7)},
    };
    for (qsizetype i = 0; i < batches.size(); ++i) {
        // The ID "6" is banned for the second batch only.
        for (RankingStore *each : {&reference, store.get()})
            QVERIFY2(each->setBanned(QStringLiteral("6"), i == 1, Monday), qPrintable(each->lastError()));
        QCOMPARE(submit(*store, batches[i]), submit(reference, batches[i]));
    }
    reference.close();
    store->close();
    QCOMPARE(contents(m_config), contents(sqlite));
}

void tst_RankingStore::commitsNotifyTheBoards()
{
    if (!TestDatabase::isPostgres())
        QSKIP("SQLite notifies nobody; the PostgreSQL run checks this");
    auto store = openStore(1);
    QStringList payloads;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), QStringLiteral("listen"));
        m_config.applyTo(db);
        QVERIFY(db.open() && db.driver()->subscribeToNotification(QStringLiteral("tovrika_boards")));
        connect(db.driver(), &QSqlDriver::notification, this,
                [&](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                    payloads << payload.toString();
                });
        submit(*store, {entry(9, "A", "1", Monday)});
        QTRY_COMPARE(payloads, QStringList{"rows"});
        submit(*store, {entry(3, "B", "2", Monday + 1)});
        QTRY_COMPARE(payloads, (QStringList{"rows", "totals"}));
        QVERIFY(store->setBanned(QStringLiteral("2"), true, Monday));
        QTRY_COMPARE(payloads, (QStringList{"rows", "totals", "rows"}));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("listen"));
}

void tst_RankingStore::zoneBelongsToTheDatabase()
{
    openStore(100)->close();
    RankingStore other(m_config, 100, QTimeZone::utc(), QStringLiteral("utc"));
    QString error;
    QVERIFY(!other.open(&error));
    QVERIFY2(error.contains(QLatin1String("time zone Asia/Tokyo, not UTC")), qPrintable(error));
    // Without a zone of its own (the operator's commands), the database's holds.
    RankingStore admin(m_config, 100, QTimeZone(), QStringLiteral("admin"));
    QVERIFY(admin.open(&error));
    QCOMPARE(admin.zone().id(), QByteArray("Asia/Tokyo"));
}

void tst_RankingStore::foreignDatabasesAreRefused_data()
{
    QTest::addColumn<QString>("statements");
    QTest::addColumn<QString>("word");
    QTest::newRow("another program's tables") << "CREATE TABLE moz_places (id INTEGER)" << "another program (moz_places)";
    QTest::newRow("a version that is no number")
        << "CREATE TABLE schema_version (version TEXT); INSERT INTO schema_version VALUES ('three')"
        << "not a version number";
}

void tst_RankingStore::foreignDatabasesAreRefused()
{
    QFETCH(QString, statements);
    QFETCH(QString, word);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), QStringLiteral("foreign"));
        m_config.applyTo(db);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString &statement : statements.split(QStringLiteral("; ")))
            QVERIFY(query.exec(statement));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    RankingStore store(m_config, 100, QTimeZone::utc(), QStringLiteral("foreign-store"));
    QString error;
    QVERIFY(!store.open(&error));
    QVERIFY2(error.contains(word), qPrintable(error));
}

void tst_RankingStore::version3MigratesWithTheSameBoards()
{
    // A database of the previous schema as its server left it: an entry
    // removed by the operator (marked, its row gone), a banned ID whose row
    // from before the ban stays and whose later entry was refused, a raise.
    const QString m = QString::number(Monday);
    QStringList fixture{
        "CREATE TABLE schema_version (version INTEGER NOT NULL)", "INSERT INTO schema_version VALUES (3)",
        "CREATE TABLE entry_log (id BIGINT PRIMARY KEY, at_ms BIGINT NOT NULL, client TEXT NOT NULL, uid TEXT NOT "
        "NULL, name TEXT NOT NULL, mode INTEGER NOT NULL, score INTEGER NOT NULL, answer TEXT NOT NULL, removed "
        "INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE best (mode INTEGER NOT NULL, board INTEGER NOT NULL, period BIGINT NOT NULL, uid TEXT NOT "
        "NULL, name TEXT NOT NULL, score INTEGER NOT NULL, reached_ms BIGINT NOT NULL, seq BIGINT NOT NULL, "
        "PRIMARY KEY (mode, board, period, uid))",
        "CREATE TABLE score_count (mode INTEGER, board INTEGER, period BIGINT, score INTEGER, n BIGINT)",
        "CREATE TABLE banned (uid TEXT PRIMARY KEY, at_ms BIGINT NOT NULL)",
        "INSERT INTO banned VALUES ('4', " + m + " + 4000)"};
    const char *log[] = {"1, 0, '1', 'A', 50, 'OK', 0", "2, 1, '2', 'B', 40, 'OK', 0", "3, 2, '3', 'C', 60, 'OK', 1",
                         "4, 3, '4', 'D', 30, 'OK', 0", "5, 5000, '4', 'D', 70, 'CANNOT_RANK_IN', 0",
                         "6, 6, '1', 'A2', 55, 'OK', 0"};
    for (const char *line : log) {
        const QStringList f = QString::fromLatin1(line).split(QStringLiteral(", "));
        fixture << QStringLiteral("INSERT INTO entry_log VALUES (%1, %2 + %3, '127.0.0.1', %4, %5, 0, %6, %7, %8)")
                       .arg(f[0], m, f[1], f[2], f[3], f[4], f[5], f[6]);
    }
    for (const auto &[period, board] : {std::pair(20261207, 0), std::pair(20261207, 1), std::pair(0, 2)}) {
        for (const char *row : {"'1', 'A2', 55, 6, 6", "'2', 'B', 40, 1, 2", "'4', 'D', 30, 3, 4"}) {
            const QStringList f = QString::fromLatin1(row).split(QStringLiteral(", "));
            fixture << QStringLiteral("INSERT INTO best VALUES (0, %1, %2, %3, %4, %5, %6 + %7, %8)")
                           .arg(board).arg(period).arg(f[0], f[1], f[2], m, f[3], f[4]);
        }
    }
    QStringList before;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), QStringLiteral("v3"));
        m_config.applyTo(db);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString &statement : std::as_const(fixture))
            QVERIFY2(query.exec(statement), qPrintable(statement + query.lastError().text()));
        QVERIFY(query.exec("SELECT board, uid, name, score, reached_ms FROM best ORDER BY board, score DESC"));
        while (query.next())
            before << QStringLiteral("%1|%2|%3|%4|%5").arg(query.value(0).toString(), query.value(1).toString(),
                                                          query.value(2).toString(), query.value(3).toString(),
                                                          query.value(4).toString());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v3"));
    auto store = openStore(100);
    QVERIFY(store->isOpen());
    QStringList after;
    for (Board board : AllBoards) {
        const std::optional<BoardView> view = store->board(0, board, QString(), Monday);
        for (const BoardRow &row : view->rows)
            after << QStringLiteral("%1|%2|%3|%4|%5").arg(int(board)).arg(row.userId, row.name).arg(row.score).arg(row.reachedMs);
    }
    QCOMPARE(after, before);
    // The ban holds on: the ID's later entries are refused.
    QCOMPARE(submit(*store, {entry(99, "D", "4", Monday + 9000)}), QList<EntryAnswer>{EntryAnswer::CannotRankIn});
    QCOMPARE(store->board(0, Board::All, QString(), Monday)->rows.first().score, 55);
}


void tst_RankingStore::snapshotStandsInForTheFoldOnlyWhenItFits()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("boards"));
    auto store = openStore(2);
    // IDs and names that pack, and those kept as text.
    submit(*store, {entry(10, "A", "007", Monday), entry(20, "名前", "7", Monday + 1), entry(30, "C", "-12", Monday + 2),
                    entry(25, "D", "odd id", Monday + 3), entry(5, "E", "5", Monday + 4)});
    QVERIFY(store->setBanned(QStringLiteral("5"), true, Monday + 5));
    qint64 position = 0;
    QString error;
    QVERIFY2(BoardSnapshot::write(*store->model(), file, &position, &error), qPrintable(error));
    submit(*store, {entry(40, "F", "8", Monday + 6)});
    const QStringList boards = store->model()->dump();
    QCOMPARE(boards.size(), 3 * 5 + 1);
    store.reset();

    auto startFrom = [&](const QString &snapshot, const QString &url, QString *note) {
        RankingStore started(parseDatabaseUrl(url).config, 2, QTimeZone("Asia/Tokyo"), QStringLiteral("started"));
        started.setSnapshotFile(snapshot);
        QString failure;
        if (!started.open(&failure))
            qWarning("%s", qPrintable(failure));
        *note = started.snapshotNote();
        return started.isOpen() ? started.model()->dump() : QStringList();
    };
    QString note;
    QCOMPARE(startFrom(file, m_url, &note), boards);
    QVERIFY2(note.contains(QStringLiteral("up to log line %1 read").arg(position)), qPrintable(note));

    // Each fault leaves the snapshot aside, and the fold of the log is whole.
    QFile whole(file);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QByteArray flipped = bytes;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 1);
    BoardModel utc(2, QTimeZone::utc());
    utc.apply(LogRow{1, LogRow::Kind::Entry, Monday, {}, QStringLiteral("1"), QStringLiteral("A"), 0, 1, false});
    const QString utcFile = dir.filePath(QStringLiteral("utc"));
    QVERIFY(BoardSnapshot::write(utc, utcFile, &position, &error));
    const struct
    {
        const char *fault;
        QByteArray bytes;
        const char *why;
    } faults[] = {
        {"cut short", bytes.left(bytes.size() - 3), "cut short"},
        {"a byte changed", flipped, "damaged"},
        {"not a snapshot", QByteArray("boards"), "not a snapshot"},
    };
    for (const auto &fault : faults) {
        const QString faulty = dir.filePath(QString::fromLatin1(fault.fault));
        QFile out(faulty);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(fault.bytes) == fault.bytes.size());
        out.close();
        QCOMPARE(startFrom(faulty, m_url, &note), boards);
        QVERIFY2(note.contains(QLatin1String("left aside")) && note.contains(QLatin1String(fault.why)), qPrintable(note));
    }
    QCOMPARE(startFrom(utcFile, m_url, &note), boards);
    QVERIFY2(note.contains(QLatin1String("time zone UTC")), qPrintable(note));
    QCOMPARE(startFrom(dir.filePath(QStringLiteral("none")), m_url, &note), boards);
    QVERIFY2(note.contains(QLatin1String("none yet")), qPrintable(note));
    // Another database: its log does not hold the snapshot's last line.
    const QString other = m_databases.freshUrl(&error);
    QVERIFY2(!other.isEmpty(), qPrintable(error));
    QCOMPARE(startFrom(file, other, &note), QStringList());
    QVERIFY2(note.contains(QLatin1String("no longer holds line")), qPrintable(note));
}

QTEST_GUILESS_MAIN(tst_RankingStore)
#include "tst_rankingstore.moc"

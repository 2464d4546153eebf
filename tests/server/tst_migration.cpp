// Checks that a database made by an earlier release, with entries in it, is
// taken over by the server as built: the tables of schema versions 1 and 2
// are written out here as those releases made them, filled, and served.
// What must hold whatever the latest version is: the server starts, the
// rows are all on the board and in the log, a banned player stays banned,
// new entries are stored, and the version reached is the one a new database
// gets.
#include "server/support/DirectConnection.h"
#include "server/support/ServerFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_Migration : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QString error;
        QVERIFY2(m_fixture.init(&error), qPrintable(error));
    }
    void cleanup() { m_fixture.cleanup(); }
    void earlierSchemaWithRowsIsServed_data();
    void earlierSchemaWithRowsIsServed();

private:
    ServerFixture m_fixture;
};

void tst_Migration::earlierSchemaWithRowsIsServed_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("version 1") << 1;
    QTest::newRow("version 2") << 2;
}

void tst_Migration::earlierSchemaWithRowsIsServed()
{
    QFETCH(int, version);
    // The version a new database gets from this server.
    QVERIFY(m_fixture.start());
    QCOMPARE(m_fixture.server().terminate(), 0);
    const qint64 latest = DirectConnection(m_fixture.url()).number("SELECT version FROM schema_version");
    QVERIFY(latest >= 3);
    QString error;
    QVERIFY2(m_fixture.init(&error), qPrintable(error));
    {
        DirectConnection db(m_fixture.url());
        const QString id = m_fixture.isPostgres() ? "BIGSERIAL" : "INTEGER";
        QStringList schema{
            "CREATE TABLE schema_version (version INTEGER NOT NULL)",
            "CREATE TABLE entry_log (id " + id + " PRIMARY KEY, at_ms BIGINT NOT NULL, client TEXT NOT NULL, "
                "uid TEXT NOT NULL, name TEXT NOT NULL, mode INTEGER NOT NULL, score INTEGER NOT NULL, "
                "answer TEXT NOT NULL)",
            "CREATE TABLE best (mode INTEGER NOT NULL, board INTEGER NOT NULL, period BIGINT NOT NULL, "
            "uid TEXT NOT NULL, name TEXT NOT NULL, score INTEGER NOT NULL, reached_ms BIGINT NOT NULL, "
            "seq BIGINT NOT NULL, PRIMARY KEY (mode, board, period, uid))",
            "CREATE INDEX best_order ON best (mode, board, period, score DESC, reached_ms, seq, name, uid)",
            "CREATE TABLE score_count (mode INTEGER NOT NULL, board INTEGER NOT NULL, period BIGINT NOT NULL, "
            "score INTEGER NOT NULL, n BIGINT NOT NULL, PRIMARY KEY (mode, board, period, score))",
            "INSERT INTO schema_version (version) VALUES (1)"};
        if (version >= 2)
            schema << "ALTER TABLE entry_log ADD COLUMN removed INTEGER NOT NULL DEFAULT 0"
                   << "CREATE INDEX entry_log_uid ON entry_log (uid)"
                   << "CREATE TABLE banned (uid TEXT PRIMARY KEY, at_ms BIGINT NOT NULL)"
                   << "INSERT INTO banned (uid, at_ms) VALUES ('666', 1700000000000)"
                   << "UPDATE schema_version SET version = 2";
        for (const QString &statement : schema)
            QVERIFY2(db.exec(statement), qPrintable(statement + ": " + db.lastError()));
        // Three players on the all-time board of the 30-second mode (board 2, period 0).
        const struct
        {
            const char *uid, *name;
            int score;
        } rows[] = {{"1", "Ichi", 90}, {"2", "Ni", 80}, {"3", "San", 70}};
        for (int i = 0; i < 3; ++i) {
            const qint64 at = 1700000000000 + i;
            QVERIFY2(db.exec("INSERT INTO entry_log (at_ms, client, uid, name, mode, score, answer) "
                             "VALUES (?, '127.0.0.1', ?, ?, 0, ?, 'OK')",
                             {at, rows[i].uid, rows[i].name, rows[i].score}),
                     qPrintable(db.lastError()));
            QVERIFY(db.exec("INSERT INTO best VALUES (0, 2, 0, ?, ?, ?, ?, ?)",
                            {rows[i].uid, rows[i].name, rows[i].score, at, i + 1}));
            QVERIFY(db.exec("INSERT INTO score_count VALUES (0, 2, 0, ?, 1)", {rows[i].score}));
        }
    }
    QVERIFY(m_fixture.start({"--rate", "0"}));
    ServerProcess &server = m_fixture.server();
    const QJsonObject board =
        QJsonDocument::fromJson(server.get("/api/ranking?md=0&board=all").body).object();
    QCOMPARE(board.value("total").toInt(), 3);
    QCOMPARE(board.value("rows").toArray().first().toObject().value("name").toString(), QStringLiteral("Ichi"));
    QCOMPARE(server.get(entryTarget(95, "Yon", "4")).body, QByteArray("OK"));
    // The banned player of version 2 is logged and never placed.
    QCOMPARE(server.get(entryTarget(300, "Cheat", "666")).body,
             QByteArray(version >= 2 ? "CANNOT_RANK_IN" : "OK"));
    QCOMPARE(server.total(), version >= 2 ? 4 : 5);
    QCOMPARE(m_fixture.loggedEntries(), 5);
    QCOMPARE(DirectConnection(m_fixture.url()).number("SELECT version FROM schema_version"), latest);
}

QTEST_GUILESS_MAIN(tst_Migration)
#include "tst_migration.moc"

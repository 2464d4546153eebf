// Checks what a failing database does to the running server, with the real
// program on loopback: a hung PostgreSQL (its backend stopped, or a table
// locked by an operator) answers entries ERROR within their deadline and
// stores none of them while the page is still served; SQLite files deleted
// under the server are refused and never answered OK; a full ext4 of 1 KiB
// blocks fails entries without killing the server, also at a restart; a
// read-only file refuses to start with a message.
#include "server/DatabaseConfig.h"
#include "server/support/ServerProcess.h"
#include "server/support/TestDatabase.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

constexpr char PagePath[] = "/wuppet/wpbrand/tovrika/";
const QStringList NoLimit{QStringLiteral("--rate"), QStringLiteral("0")};

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

// Sends each request on a connection of its own at once; statuses() waits for the answers.
struct Pending
{
    Pending(quint16 port, const QList<QByteArray> &targets)
    {
        for (const QByteArray &target : targets) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, port);
            sockets.back()->waitForConnected(2000);
            sockets.back()->write("GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
            sockets.back()->waitForBytesWritten(2000);
        }
    }
    QList<int> statuses(int timeoutMs)
    {
        QElapsedTimer waited;
        waited.start();
        QList<int> statuses;
        for (const auto &socket : sockets) {
            while (socket->state() == QAbstractSocket::ConnectedState && waited.elapsed() < timeoutMs)
                socket->waitForReadyRead(100);
            statuses << ServerProcess::parse(socket->readAll()).status;
        }
        return statuses;
    }
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
};

} // namespace

class tst_RankingDatabase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_server.reset(); }
    void hungDatabaseFailsEntriesWithinTheDeadline_data();
    void hungDatabaseFailsEntriesWithinTheDeadline();
    void deletedFilesAreNeverAnsweredOk_data();
    void deletedFilesAreNeverAnsweredOk();
    void fullDiskOfSmallBlocks();

private:
    bool startServer(ServerProcess &server, const QStringList &extra = NoLimit);

    TestDatabase m_databases;
    QString m_url;
    std::unique_ptr<ServerProcess> m_server;
};

void tst_RankingDatabase::init()
{
    QString error;
    m_url = m_databases.freshUrl(&error);
    QVERIFY2(!m_url.isEmpty(), qPrintable(error));
    m_server = std::make_unique<ServerProcess>();
}

bool tst_RankingDatabase::startServer(ServerProcess &server, const QStringList &extra)
{
    QString error;
    const bool started = server.start(m_url, extra, &error);
    if (!started)
        qWarning("%s", qPrintable(error));
    return started;
}

void tst_RankingDatabase::hungDatabaseFailsEntriesWithinTheDeadline_data()
{
    QTest::addColumn<bool>("stopBackend");
    QTest::newRow("backend stopped") << true;
    QTest::newRow("table locked by an operator") << false;
}

void tst_RankingDatabase::hungDatabaseFailsEntriesWithinTheDeadline()
{
    if (!TestDatabase::isPostgres())
        QSKIP("an SQLite file has no backend to stop; the PostgreSQL run checks this");
    QFETCH(bool, stopBackend);
    QVERIFY(startServer(*m_server, NoLimit + QStringList{"--entry-deadline", "2"}));
    QCOMPARE(m_server->get(entryTarget(5, "a", "1")).body, QByteArray("OK"));
    QList<int> statuses;
    qint64 answeredMs = 0, pageMs = 0;
    int pageStatus = 0;
    {
        const DatabaseConfig config = parseDatabaseUrl(m_url).config;
        QSqlDatabase operatorDb = QSqlDatabase::addDatabase(config.driverName(), QStringLiteral("operator"));
        config.applyTo(operatorDb);
        QSqlQuery query(operatorDb);
        pid_t backend = 0;
        if (stopBackend) {
            QVERIFY(operatorDb.open() && query.exec("SELECT pid FROM pg_stat_activity "
                                                    "WHERE application_name = 'tovrika-ranking-entries'"));
            QVERIFY(query.next() && (backend = pid_t(query.value(0).toLongLong())) > 0);
            QCOMPARE(::kill(backend, SIGSTOP), 0);
        } else {
            QVERIFY(operatorDb.open() && operatorDb.transaction());
            QVERIFY(query.exec(QStringLiteral("LOCK TABLE entry_log IN EXCLUSIVE MODE")));
        }
        QElapsedTimer elapsed;
        elapsed.start();
        Pending entries(m_server->port(), {entryTarget(6, "b", "2"), entryTarget(7, "c", "3"), entryTarget(8, "d", "4")});
        pageStatus = m_server->get(PagePath).status;
        pageMs = elapsed.elapsed();
        statuses = entries.statuses(8000);
        answeredMs = elapsed.elapsed();
        // The database answers again before anything is checked.
        stopBackend ? void(::kill(backend, SIGCONT)) : void(operatorDb.rollback());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("operator"));
    QCOMPARE(pageStatus, 200);
    QVERIFY2(pageMs < 1000, qPrintable(QString::number(pageMs)));
    QCOMPARE(statuses, QList<int>(3, 503));
    // Within the deadline of the last entry and one more for a batch that
    // opens the connection again after the cut, in a sanitizer build too.
    QVERIFY2(answeredMs < 4500, qPrintable(QString::number(answeredMs)));

    // Each try is an entry of its own: the first answered OK is the only one stored.
    QByteArray answer;
    for (int tries = 0; tries < 50 && answer != "OK"; ++tries) {
        if (tries > 0)
            QTest::qWait(200);
        answer = m_server->get(entryTarget(9, "e", "5")).body;
    }
    QCOMPARE(answer, QByteArray("OK"));
    // Entries answered ERROR never turn up later.
    QCOMPARE(TestDatabase::loggedEntries(m_url), 2);
    QCOMPARE(m_server->total(), 2);
    // One line for the outage and one for its end, beside the start's: no warning floods.
    QTRY_VERIFY(m_server->standardError().contains("database is back"));
    // Which deadline tells first depends on how the batches fell and on a
    // loaded machine: the server's own checks name it, PostgreSQL's
    // statement and lock time-outs (set to it) say "timeout".
    const QByteArray told = m_server->standardError();
    QVERIFY2(told.count("database failed:") == 1 && (told.contains(" 2000 ms") || told.contains(" timeout")),
             told.constData());
    QVERIFY2(told.count('\n') == 3, told.constData());
}

void tst_RankingDatabase::deletedFilesAreNeverAnsweredOk_data()
{
    QTest::addColumn<QStringList>("deleted");
    QTest::addColumn<int>("keptAfterRestart");
    QTest::newRow("database and its files") << QStringList{"", "-wal", "-shm"} << 0;
    // The log's entries are saved into the database file, which stays.
    QTest::newRow("write-ahead log") << QStringList{"-wal"} << 3;
}

void tst_RankingDatabase::deletedFilesAreNeverAnsweredOk()
{
    if (TestDatabase::isPostgres())
        QSKIP("PostgreSQL keeps its own files; the SQLite run checks this");
    QFETCH(QStringList, deleted);
    QFETCH(int, keptAfterRestart);
    QVERIFY(startServer(*m_server));
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(m_server->get(entryTarget(10 + i, "a", QByteArray::number(i))).body, QByteArray("OK"));
    const QString path = parseDatabaseUrl(m_url).config.sqlitePath;
    for (const QString &suffix : deleted)
        QVERIFY(QFile::remove(path + suffix));
    for (int i = 4; i <= 6; ++i)
        QCOMPARE(m_server->get(entryTarget(10 + i, "b", QByteArray::number(i))).status, 503);
    QCOMPARE(m_server->get(PagePath).status, 503);
    QTRY_VERIFY2(m_server->standardError().contains("under the running server"), m_server->standardError().constData());
    QCOMPARE(m_server->standardError().count("database failed:"), 1);

    m_server->kill9();
    ServerProcess restarted;
    QVERIFY(startServer(restarted));
    QCOMPARE(restarted.total(), keptAfterRestart);
    QCOMPARE(TestDatabase::loggedEntries(m_url), keptAfterRestart);
}

void tst_RankingDatabase::fullDiskOfSmallBlocks()
{
    if (TestDatabase::isPostgres())
        QSKIP("the disk under PostgreSQL is its own to manage; the SQLite run checks this");
    if (::geteuid() != 0)
        QSKIP("loop-mounting a file system needs root");
    if (!QFile::exists(QStringLiteral("/dev/loop-control")))
        QSKIP("no loop devices here (/dev/loop-control)");
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("disk.img")), mountPoint = dir.filePath(QStringLiteral("mnt"));
    QVERIFY(QDir().mkpath(mountPoint));
    QVERIFY(run(QStringLiteral("mkfs.ext4"), {"-q", "-F", "-b", "1024", image, "4096"}));
    if (!run(QStringLiteral("mount"), {"-o", "loop", image, mountPoint}))
        QSKIP("cannot loop-mount an ext4 image here");
    // Declared before the servers, so that they have ended when it unmounts.
    const auto unmount = qScopeGuard([&] { run(QStringLiteral("umount"), {mountPoint}); });
    m_url = QStringLiteral("sqlite:") + mountPoint + QStringLiteral("/ranking.sqlite");
    const QString filler = mountPoint + QStringLiteral("/filler");
    {
        ServerProcess server;
        QVERIFY(startServer(server));
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(server.get(entryTarget(10 + i, "a", QByteArray::number(i))).body, QByteArray("OK"));
        // Every block, in large pieces and then in small ones.
        for (const char *size : {"bs=64k", "bs=1k"})
            run(QStringLiteral("dd"), {"if=/dev/zero", "of=" + filler + size, size});
        QHash<int, int> statuses;
        for (int i = 100; i < 400; ++i)
            ++statuses[server.get(entryTarget(i % 300, "f", QByteArray::number(i), i % 2)).status];
        QVERIFY(statuses.value(503) > 0);
        QCOMPARE(statuses.value(200) + statuses.value(503), 300);
        QCOMPARE(server.get(PagePath).status, 200);
        QVERIFY(server.isRunning());
        server.kill9();

        // A restart on the full disk serves or ends with a message, never with a signal.
        ServerProcess restarted;
        const bool servedOnFullDisk = startServer(restarted);
        if (servedOnFullDisk) {
            QCOMPARE(restarted.get(PagePath).status, 200);
            QVERIFY(QList<int>({200, 503}).contains(restarted.get(entryTarget(7, "g", "7")).status));
        } else {
            QCOMPARE(restarted.exitCode(), 1);
        }
        for (const char *size : {"bs=64k", "bs=1k"})
            QVERIFY(QFile::remove(filler + size));
        QVERIFY(servedOnFullDisk || startServer(restarted));
        QTRY_COMPARE_WITH_TIMEOUT(restarted.get(entryTarget(8, "h", "8")).body, QByteArray("OK"), 10000);
    }
    QVERIFY(run(QStringLiteral("mount"), {"-o", "remount,ro", mountPoint}));
    ServerProcess readOnly;
    QVERIFY(!startServer(readOnly));
    QCOMPARE(readOnly.exitCode(), 1);
    QVERIFY2(readOnly.standardError().contains("read-only"), readOnly.standardError().constData());
}

QTEST_GUILESS_MAIN(tst_RankingDatabase)
#include "tst_rankingdatabase.moc"

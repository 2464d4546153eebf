// Checks the operator's commands against the real program over its database
// (SQLite, or PostgreSQL with TOVRIKA_TEST_DATABASE=postgresql), with a
// server running on it: a cheater removed and banned with every count and
// rank right, a fresh fold that finds the same boards, a backup that a server
// starts on, bad commands refused, a server that keeps its locks on
// SQLite's shared memory while they run, and every command run over and
// over beside sixteen sending clients: none fails, no entry is answered an
// error, and the boards held are those a fresh fold and a restart give.
#include "protocol/RankingProtocol.h"
#include "server/support/ConcurrentRequests.h"
#include "server/support/DirectConnection.h"
#include "server/support/ServerFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <sys/stat.h>

class tst_RankingAdmin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cheaterIsTakenOutWhileTheServerRuns();
    void backupServesAnotherServer();
    void twoServersFoldEachOthersEntriesAndActs();
    void everyCommandBesideSendingClients();
    void serverKeepsItsLocksOnTheSharedMemory();
    void badCommandsAreRefused_data();
    void badCommandsAreRefused();

private:
    // Runs "tovrika-ranking admin ARGUMENTS --database URL"; its exit status.
    int admin(const QStringList &arguments, QByteArray *output = nullptr);
    QJsonObject board(ServerProcess &server);
    // The six boards (two modes, three periods) with a visitor's own row.
    QList<QByteArray> boards(ServerProcess &server);

    ServerFixture m_fixture;
};

void tst_RankingAdmin::init()
{
    QString error;
    QVERIFY2(m_fixture.init(&error), qPrintable(error));
}

int tst_RankingAdmin::admin(const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.start(ServerProcess::executable(), QStringList{"admin"} + arguments + QStringList{"--database", m_fixture.url()});
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = process.readAllStandardOutput() + process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QJsonObject tst_RankingAdmin::board(ServerProcess &server)
{
    return QJsonDocument::fromJson(server.get("/api/ranking?md=0&board=all").body).object();
}

QList<QByteArray> tst_RankingAdmin::boards(ServerProcess &server)
{
    QList<QByteArray> all;
    for (const QByteArray mode : {"0", "1"}) {
        for (const QByteArray period : {"today", "week", "all"})
            all << server.get("/api/ranking?md=" + mode + "&board=" + period + "&id=7").body;
    }
    return all;
}

void tst_RankingAdmin::cheaterIsTakenOutWhileTheServerRuns()
{
    ServerProcess server;
    QString error;
    QVERIFY2(server.start(m_fixture.url(), {"--top", "1", "--rate", "0"}, &error), qPrintable(error));
    QCOMPARE(server.get(entryTarget(301, "Cheat", "666")).body, QByteArray("OK"));
    QCOMPARE(server.get(entryTarget(100, "Honest", "1")).body, QByteArray("CANNOT_RANK_IN"));

    const QByteArray page = "/wuppet/wpbrand/tovrika/";
    QVERIFY(server.get(page).body.contains("Cheat"));
    QCOMPARE(admin({"remove", "--id", "666"}), 0);
    // The page that the server keeps follows, soon after, another process's change.
    QTRY_VERIFY_WITH_TIMEOUT(!server.get(page).body.contains("Cheat"), 15000);
    // The running server shows the change at its next read, counts included.
    QJsonObject all = board(server);
    QCOMPARE(all.value("total").toInt(), 1);
    QCOMPARE(all.value("rows").toArray().first().toObject().value("name").toString(), QStringLiteral("Honest"));
    // An equal score shares the first rank: it ranks in.
    QCOMPARE(server.get(entryTarget(100, "Other", "2")).body, QByteArray("OK"));

    QCOMPARE(admin({"ban", "--id", "666"}), 0);
    // Nothing tells the cheater; the entry is logged and stays off the boards.
    QCOMPARE(server.get(entryTarget(301, "Cheat", "666")).body, QByteArray("CANNOT_RANK_IN"));
    QCOMPARE(board(server).value("total").toInt(), 2);
    QByteArray listing;
    QCOMPARE(admin({"list", "--id", "666"}, &listing), 0);
    QVERIFY2(listing.startsWith("banned: yes\n") && listing.count("\nentry ") == 2 && listing.count("\nact ") == 2
                 && !listing.contains("\nrow\t"),
             listing.constData());

    // The boards held are the log's fold: a fresh fold finds them the same.
    QByteArray folded;
    QCOMPARE(admin({"rebuild"}, &folded), 0);
    QVERIFY2(folded.contains("the boards are the same"), folded.constData());
    all = board(server);
    QCOMPARE(all.value("total").toInt(), 2);
    QCOMPARE(all.value("rows").toArray().first().toObject().value("name").toString(), QStringLiteral("Honest"));

    QCOMPARE(admin({"unban", "--id", "666"}), 0);
    QCOMPARE(server.get(entryTarget(301, "Cheat", "666")).body, QByteArray("OK"));
}

void tst_RankingAdmin::serverKeepsItsLocksOnTheSharedMemory()
{
    if (m_fixture.isPostgres())
        QSKIP("only SQLite shares memory between processes");
    ServerProcess server;
    QString error;
    QVERIFY2(server.start(m_fixture.url(), {}, &error), qPrintable(error));
    QCOMPARE(server.get(entryTarget(50, "a", "1")).body, QByteArray("OK"));
    // Without its locks, the next process to open the file would take the
    // shared memory for unused and truncate it under the server.
    struct stat shm = {};
    QCOMPARE(::stat(qPrintable(m_fixture.config().sqlitePath + "-shm"), &shm), 0);
    QFile locks(QStringLiteral("/proc/locks"));
    QVERIFY(locks.open(QIODevice::ReadOnly));
    const QByteArray mine = ' ' + QByteArray::number(server.pid()) + ' ';
    const QByteArray inode = ':' + QByteArray::number(qulonglong(shm.st_ino)) + ' ';
    bool held = false;
    for (const QByteArray &line : locks.readAll().split('\n'))
        held = held || (line.contains(mine) && line.contains(inode));
    QVERIFY(held);
    QCOMPARE(admin({"list", "--id", "1"}), 0);
    QCOMPARE(server.get(entryTarget(60, "a", "1")).body, QByteArray("OK"));
}

void tst_RankingAdmin::backupServesAnotherServer()
{
    ServerProcess server;
    QString error;
    QVERIFY2(server.start(m_fixture.url(), {}, &error), qPrintable(error));
    QCOMPARE(server.get(entryTarget(50, "Taro", "1")).body, QByteArray("OK"));
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.sqlite"));
    QByteArray output;
    if (m_fixture.isPostgres()) {
        QCOMPARE(admin({"backup", copy}, &output), 1);
        QVERIFY2(output.contains("pg_dump"), output.constData());
        return;
    }
    QCOMPARE(admin({"backup", copy}), 0);
    // Never over a file that is there.
    QCOMPARE(admin({"backup", copy}), 1);
    ServerProcess restored;
    QVERIFY2(restored.start(QStringLiteral("sqlite:") + copy, {}, &error), qPrintable(error));
    QCOMPARE(restored.total(), 1);
}

void tst_RankingAdmin::twoServersFoldEachOthersEntriesAndActs()
{
    ServerProcess first, second;
    QVERIFY(m_fixture.start(first, {"--rate", "0"}));
    QVERIFY(m_fixture.start(second, {"--rate", "0"}));
    QCOMPARE(first.get(entryTarget(301, "Cheat", "666")).body, QByteArray("OK"));
    QCOMPARE(second.get(entryTarget(100, "Honest", "1")).body, QByteArray("OK"));
    auto rows = [this](ServerProcess &server) { return board(server).value("rows").toArray(); };
    QTRY_COMPARE_WITH_TIMEOUT(rows(second).size(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rows(first).size(), 2, 10000);
    QCOMPARE(admin({"ban", "--id", "666"}), 0);
    for (ServerProcess *server : {&first, &second})
        QTRY_COMPARE_WITH_TIMEOUT(rows(*server).size(), 1, 10000);
    // The other server refuses the banned ID too, and both hold the same boards.
    QCOMPARE(second.get(entryTarget(300, "Cheat", "666")).body, QByteArray("CANNOT_RANK_IN"));
    QCOMPARE(admin({"unban", "--id", "666"}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(first.get(entryTarget(250, "Cheat", "666")).body, QByteArray("OK"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rows(second), rows(first), 10000);
    QCOMPARE(rows(first).first().toObject().value("score").toInt(), 250);
    // A restart folds the log into the same boards.
    const QJsonArray before = rows(first);
    QCOMPARE(second.terminate(), 0);
    ServerProcess restarted;
    QVERIFY(m_fixture.start(restarted));
    QCOMPARE(rows(restarted), before);
}

void tst_RankingAdmin::everyCommandBesideSendingClients()
{
    // 20 s by default; TOVRIKA_ADMIN_LOAD_SECONDS for a longer or shorter run.
    const int seconds = qEnvironmentVariableIsSet("TOVRIKA_ADMIN_LOAD_SECONDS")
                            ? qEnvironmentVariableIntValue("TOVRIKA_ADMIN_LOAD_SECONDS")
                            : 20;
    constexpr int Clients = 16;
    QTemporaryDir backups;
    // A snapshot every second, which the commands read beside an SQLite database.
    QStringList snapshot{"--snapshot-interval", "1"};
    if (m_fixture.isPostgres())
        snapshot << "--snapshot" << backups.filePath(QStringLiteral("boards"));
    ServerProcess server;
    QVERIFY(m_fixture.start(server, QStringList{"--rate", "0", "--top", "10"} + snapshot));
    QList<QStringList> commands = {{"remove", "--id", "ID"}, {"ban", "--id", "ID"},  {"unban", "--id", "ID"},
                                   {"remove", "--id", "ID", "--mode", "1"},          {"rebuild"},
                                   {"list", "--id", "ID"},   {"unban", "--id", "ID"}};
    if (!m_fixture.isPostgres())
        commands.append(QStringList{"backup", "FILE"});

    // The operator's commands, one after the other, on a thread of their own.
    std::atomic<bool> stop = false;
    QStringList failures;
    int runs = 0;
    std::thread operatorThread([&] {
        for (; !stop || runs < int(commands.size()); ++runs) {
            QStringList arguments = commands[runs % commands.size()];
            arguments.replaceInStrings(QStringLiteral("ID"), QString::number(runs % 13 + 1));
            arguments.replaceInStrings(QStringLiteral("FILE"), backups.filePath(QString::number(runs)));
            QByteArray output;
            const int status = admin(arguments, &output);
            if (status != 0)
                failures << arguments.join(u' ') + QStringLiteral(": exit %1: ").arg(status) + QString::fromUtf8(output);
        }
    });
    QElapsedTimer running;
    running.start();
    QRandomGenerator random(23);
    qint64 answered = 0;
    QByteArrayList wrong;
    while (running.elapsed() < seconds * 1000) {
        QList<QByteArray> targets;
        for (int i = 0; i < Clients; ++i)
            targets << entryTarget(random.bounded(RankingProtocol::MaxScore + 1), "p" + QByteArray::number(i),
                                   QByteArray::number(random.bounded(40) + 1), random.bounded(2));
        for (const ServerProcess::Reply &reply : ConcurrentRequests(server.port(), targets).wait()) {
            ++answered;
            if (reply.status != 200 || (reply.body != "OK" && reply.body != "CANNOT_RANK_IN"))
                wrong << QByteArray::number(reply.status) + ' ' + reply.body;
        }
    }
    stop = true;
    operatorThread.join();
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 of %2 entries: ").arg(wrong.size()).arg(answered)
                                         + QString::fromUtf8(wrong.value(0))));
    qInfo("%d commands and %lld entries in %d s", runs, answered, seconds);
    // Every answered entry is in the log, and only those.
    QCOMPARE(m_fixture.loggedEntries(), answered);

    const QList<QByteArray> before = boards(server);
    QVERIFY2(before.last().contains("\"rows\":[{"), before.last().constData());
    QByteArray folded;
    QCOMPARE(admin({"rebuild"}, &folded), 0);
    QVERIFY2(folded.contains("the boards are the same"), folded.constData());
    QCOMPARE(boards(server), before);
    QCOMPARE(server.terminate(), 0);
    ServerProcess restarted;
    QVERIFY(m_fixture.start(restarted, QStringList{"--top", "10"} + snapshot));
    QCOMPARE(boards(restarted), before);
    // The boards came from the snapshot kept at the stop, not from a fold of the log.
    QVERIFY2(restarted.standardError().contains(" read from "), restarted.standardError().constData());
}

void tst_RankingAdmin::badCommandsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"frob"};
    QTest::newRow("remove without id") << QStringList{"remove"};
    QTest::newRow("invalid id") << QStringList{"ban", "--id", "12a"};
    QTest::newRow("rebuild with id") << QStringList{"rebuild", "--id", "1"};
    QTest::newRow("mode 2") << QStringList{"remove", "--id", "1", "--mode", "2"};
    QTest::newRow("backup without file") << QStringList{"backup"};
}

void tst_RankingAdmin::badCommandsAreRefused()
{
    QFETCH(QStringList, arguments);
    QByteArray output;
    QCOMPARE(admin(arguments, &output), 2);
    QVERIFY2(output.startsWith("tovrika-ranking admin: ") && output.count('\n') == 1, output.constData());
}

QTEST_GUILESS_MAIN(tst_RankingAdmin)
#include "tst_rankingadmin.moc"

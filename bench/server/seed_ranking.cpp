// Fills a ranking database with many stored entries for the ranking-page
// benchmark: N installations on the all-time, week and today boards of the
// 30-second mode, scores spread over 0..301, and the entry log beside them.
//
//   bench_ranking_seed DATABASE-URL N [SNAPSHOT]
//   bench_ranking_seed --start DATABASE-URL [SNAPSHOT]
//
// SNAPSHOT is the snapshot file, by default the server's (beside an SQLite
// database, none for PostgreSQL).
// After seeding it times a start that folds the whole log and keeps its
// snapshot beside an SQLite database; --start times a start from that
// snapshot, in a process of its own so that its memory is its own.
#include "server/BoardSnapshot.h"
#include "server/Boards.h"
#include "server/DatabaseConfig.h"
#include "server/RankingStore.h"
#include "server/ServerOptions.h"

#include <QFile>
#include <QFileInfo>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace {
// The process's resident memory, from the kernel's own account.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    auto snapshotOf = [&](int index, const DatabaseConfig &config) {
        return argc > index ? QString::fromLocal8Bit(argv[index]) : snapshotFile(QString(), config);
    };
    if ((argc == 3 || argc == 4) && QByteArray(argv[1]) == "--start") {
        const ParsedDatabase parsed = parseDatabaseUrl(QString::fromLocal8Bit(argv[2]));
        const qint64 before = residentKiB();
        QElapsedTimer timer;
        timer.start();
        RankingStore store(parsed.config, 100, QTimeZone::systemTimeZone(), QStringLiteral("start"));
        store.setSnapshotFile(snapshotOf(3, parsed.config));
        QString error;
        if (!parsed.ok || !store.open(&error)) {
            std::fprintf(stderr, "bench_ranking_seed: %s%s\n", qPrintable(parsed.error), qPrintable(error));
            return 1;
        }
        std::printf("start-up in %.2f s (%s); boards in memory: %.1f MiB\n",
                    timer.elapsed() / 1000.0, qPrintable(store.snapshotNote()), (residentKiB() - before) / 1024.0);
        return 0;
    }
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: bench_ranking_seed DATABASE-URL N [SNAPSHOT] | --start DATABASE-URL [SNAPSHOT]\n");
        return 2;
    }
    const ParsedDatabase parsed = parseDatabaseUrl(QString::fromLocal8Bit(argv[1]));
    const qint64 count = QByteArray(argv[2]).toLongLong();
    if (!parsed.ok || count <= 0) {
        std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(parsed.error));
        return 2;
    }
    const DatabaseConfig &config = parsed.config;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    {
        // Creates the schema exactly as the server does.
        RankingStore store(config, 100, zone, QStringLiteral("schema"));
        QString error;
        if (!store.open(&error)) {
            std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(error));
            return 1;
        }
    }

    QElapsedTimer timer;
    timer.start();
    QSqlDatabase db = QSqlDatabase::addDatabase(config.driverName(), QStringLiteral("seed"));
    config.applyTo(db);
    if (!db.open()) {
        std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    const bool postgres = config.kind == DatabaseConfig::Kind::Postgres;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // The numbers 1..N, and from them the rows of every board at once.
    const QString numbers = postgres ? QStringLiteral("SELECT generate_series(CAST(1 AS BIGINT), %1) AS n").arg(count)
                                     : QStringLiteral("WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                                                      "FROM s WHERE n < %1) SELECT n FROM s")
                                           .arg(count);
    // The log is the only table: the boards are its fold.
    QStringList statements{
        QStringLiteral("INSERT INTO entry_log (id, at_ms, client, uid, name, mode, score, answer) "
                       "SELECT n, %1 - 1000000 + n, '127.0.0.1', CAST(n AS TEXT), 'Seed' || n, 0, (n * 7919) %% 302, "
                       "'OK' FROM (%2) AS t")
            .arg(now)
            .arg(numbers),
    };
    db.transaction();
    QSqlQuery query(db);
    for (QString statement : statements) {
        statement.replace(QStringLiteral("%%"), QStringLiteral("%"));
        if (!query.exec(statement)) {
            std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(query.lastError().text()));
            return 1;
        }
    }
    if (!db.commit()) {
        std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    // As after any bulk load, so that the measurements after it do not pay
    // for the load's own aftermath: PostgreSQL's autovacuum pass over a
    // million rows and the checkpoint that their write-ahead log calls for.
    if (config.kind == DatabaseConfig::Kind::Postgres) {
        query.exec(QStringLiteral("VACUUM ANALYZE"));
        query.exec(QStringLiteral("CHECKPOINT"));
    } else {
        query.exec(QStringLiteral("ANALYZE"));
        query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    std::printf("seeded %lld installations on 3 boards in %.1f s\n", count, timer.elapsed() / 1000.0);
    query.finish();
    db.close();

    // A start: the fold of the whole log into memory, timed, and what it holds.
    const qint64 before = residentKiB();
    timer.restart();
    RankingStore store(config, 100, zone, QStringLiteral("start"));
    QString error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("start-up folded %lld log lines in %.2f s; boards in memory: %.1f MiB\n", count,
                timer.elapsed() / 1000.0, (residentKiB() - before) / 1024.0);
    const QString snapshot = snapshotOf(3, config);
    if (!snapshot.isEmpty()) {
        timer.restart();
        qint64 position = 0;
        if (!BoardSnapshot::write(*store.model(), snapshot, &position, &error)) {
            std::fprintf(stderr, "bench_ranking_seed: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("snapshot of %lld lines written in %.2f s: %.1f MiB\n", position, timer.elapsed() / 1000.0,
                    QFileInfo(snapshot).size() / 1048576.0);
    }
    return 0;
}

// Fills a ranking database with many stored entries for the ranking-page
// benchmark: N installations on the all-time, week and today boards of the
// 30-second mode, scores spread over 0..301, and the entry log beside them.
//
//   bench_ranking_seed DATABASE-URL N
#include "server/Boards.h"
#include "server/DatabaseConfig.h"
#include "server/RankingStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_ranking_seed DATABASE-URL N\n");
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
    QStringList statements{
        QStringLiteral("INSERT INTO entry_log (at_ms, client, uid, name, mode, score, answer) "
                       "SELECT %1 - n, '127.0.0.1', CAST(n AS TEXT), 'Seed' || n, 0, (n * 7919) %% 302, 'OK' FROM (%2) AS t")
            .arg(now)
            .arg(numbers),
    };
    for (Board board : AllBoards) {
        statements << QStringLiteral("INSERT INTO best (mode, board, period, uid, name, score, reached_ms, seq) "
                                     "SELECT 0, %1, %2, CAST(n AS TEXT), 'Seed' || n, (n * 7919) %% 302, %3 - n, n "
                                     "FROM (%4) AS t")
                          .arg(int(board))
                          .arg(periodKey(board, now, zone))
                          .arg(now)
                          .arg(numbers);
        statements << QStringLiteral("INSERT INTO score_count (mode, board, period, score, n) "
                                     "SELECT 0, %1, %2, score, COUNT(*) FROM best WHERE mode = 0 AND board = %1 "
                                     "AND period = %2 GROUP BY score")
                          .arg(int(board))
                          .arg(periodKey(board, now, zone));
    }
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
    query.exec(QStringLiteral("ANALYZE"));
    std::printf("seeded %lld installations on 3 boards in %.1f s\n", count, timer.elapsed() / 1000.0);
    return 0;
}

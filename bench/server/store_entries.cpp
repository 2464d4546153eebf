// The store alone, without HTTP: batches of entries committed one after
// another as the server's writer commits them, from distinct installations
// with scores spread over 0..301. Prints the time per entry, the writer's
// own processor time per entry beside it, and entries per second.
//
//   bench_store_entries DATABASE-URL [BATCHES [BATCH-SIZE]]
#include "server/DatabaseConfig.h"
#include "server/RankingStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

namespace {

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: bench_store_entries DATABASE-URL [BATCHES [BATCH-SIZE]]\n");
        return 2;
    }
    const ParsedDatabase parsed = parseDatabaseUrl(QString::fromLocal8Bit(argv[1]));
    const int batches = argc > 2 ? QByteArray(argv[2]).toInt() : 2000;
    const int size = argc > 3 ? QByteArray(argv[3]).toInt() : 32;
    if (!parsed.ok || batches <= 0 || size <= 0) {
        std::fprintf(stderr, "bench_store_entries: %s\n", parsed.ok ? "bad count" : qPrintable(parsed.error));
        return 2;
    }
    RankingStore store(parsed.config, 100, QTimeZone::systemTimeZone(), QStringLiteral("bench"));
    QString error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "bench_store_entries: %s\n", qPrintable(error));
        return 1;
    }
    qint64 counter = 0;
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuSeconds();
    for (int batch = 0; batch < batches; ++batch) {
        QList<PendingEntry> entries;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < size; ++i, ++counter) {
            entries.append(PendingEntry{RankingProtocol::Entry{int(counter % 302), int(counter % 2),
                                                               QStringLiteral("Bench"),
                                                               QStringLiteral("bench%1").arg(counter)},
                                        QStringLiteral("127.0.0.1"), now});
        }
        if (!store.submit(entries, QDeadlineTimer(10000))) {
            std::fprintf(stderr, "bench_store_entries: %s\n", qPrintable(store.lastError()));
            return 1;
        }
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = threadCpuSeconds() - cpuStart;
    std::printf("%lld entries in batches of %d: %.1f us each (%.1f us of processor), %.0f a second\n", counter, size,
                seconds * 1e6 / double(counter), cpu * 1e6 / double(counter), double(counter) / seconds);
    return 0;
}

// Checks what an operator watches, with the real server over its database
// (SQLite, or PostgreSQL with TOVRIKA_TEST_DATABASE=postgresql): /healthz on
// the public address, following the database down and back; /metrics only
// on its own address, in a form promtool accepts and a real Prometheus
// scrapes and answers queries about; the open connections, the commits'
// count and time, a group commit of several entries held back by another
// program's write lock, and the failed commits of a database gone.
#include "server/support/ConcurrentRequests.h"
#include "server/support/DirectConnection.h"
#include "server/support/ServerProcess.h"
#include "server/support/TestDatabase.h"
#include "server/support/TestPostgres.h"
#include "server/DatabaseConfig.h"
#include "support/FreePort.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

class tst_RankingMetrics : public QObject
{
    Q_OBJECT

private slots:
    void healthAndMetrics();

private:
    TestDatabase m_databases;
};

namespace {

QByteArray get(quint16 port, const QByteArray &target, int *status = nullptr)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray response;
    while (socket.waitForReadyRead(5000))
        response += socket.readAll();
    const ServerProcess::Reply reply = ServerProcess::parse(response);
    if (status)
        *status = reply.status;
    return reply.body;
}

// The value of a sample without labels, -1 when it is missing.
double sample(const QByteArray &metrics, const QByteArray &name)
{
    for (const QByteArray &line : metrics.split('\n')) {
        if (line.startsWith(name + ' '))
            return line.mid(name.size() + 1).toDouble();
    }
    return -1;
}

} // namespace

void tst_RankingMetrics::healthAndMetrics()
{
    QString error;
    const QString url = m_databases.freshUrl(&error);
    QVERIFY2(!url.isEmpty(), qPrintable(error));
    ServerProcess server;
    QVERIFY2(server.start(url, {"--metrics-listen", "127.0.0.1:0"}, &error), qPrintable(error));
    const QRegularExpressionMatch metricsLine =
        QRegularExpression(QStringLiteral("metrics on 127\\.0\\.0\\.1:(\\d+)")).match(server.standardError());
    QVERIFY(metricsLine.hasMatch());
    const quint16 metricsPort = quint16(metricsLine.captured(1).toUInt());

    int status = 0;
    QCOMPARE(get(server.port(), "/healthz", &status), QByteArray("OK"));
    QCOMPARE(status, 200);
    QCOMPARE(server.get(entryTarget(10, "a", "1")).body, QByteArray("OK"));
    QCOMPARE(server.get(entryTarget(10, "a", "2", 0, "1")).body, QByteArray("INVALID_VERSION"));
    QCOMPARE(server.get(entryTarget(999, "a", "3")).status, 400);
    // Strangers do not see the metrics.
    get(server.port(), "/metrics", &status);
    QCOMPARE(status, 404);

    const QByteArray metrics = get(metricsPort, "/metrics", &status);
    QCOMPARE(status, 200);
    for (const char *line : {"tovrika_entries_total{answer=\"OK\"} 1\n",
                             "tovrika_entries_total{answer=\"INVALID_VERSION\"} 1\n",
                             "tovrika_entries_total{answer=\"refused\"} 1\n", "tovrika_http_requests_total{status=\"404\"} 1\n",
                             "tovrika_commit_batch_entries_count 1\n", "tovrika_database_up 1\n"})
        QVERIFY2(metrics.contains(line), line);
    QVERIFY(sample(metrics, "tovrika_commit_duration_seconds_count") == 1);
    QVERIFY(sample(metrics, "tovrika_commit_duration_seconds_sum") > 0);
    QCOMPARE(sample(metrics, "tovrika_commit_failures_total"), 0.0);
    // The last request's connection closes on the server's side a moment after its answer.
    QTRY_COMPARE(sample(get(metricsPort, "/metrics"), "tovrika_connections_open"), 0.0);
    {
        // A connection held open is counted while it lasts.
        QTcpSocket held;
        held.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(held.waitForConnected(5000));
        QTRY_COMPARE(sample(get(metricsPort, "/metrics"), "tovrika_connections_open"), 1.0);
    }
    QTRY_COMPARE(sample(get(metricsPort, "/metrics"), "tovrika_connections_open"), 0.0);
    {
        // Entries that wait behind another program's write lock commit together.
        DirectConnection other(url);
        QVERIFY2(other.holdEntryLogWriteLock(), qPrintable(other.lastError()));
        QList<QByteArray> group;
        for (int id = 20; id < 26; ++id)
            group << entryTarget(id, "g", QByteArray::number(id));
        ConcurrentRequests entries(server.port(), group);
        QTest::qWait(300);
        QVERIFY(other.rollback());
        for (const ServerProcess::Reply &reply : entries.wait())
            QCOMPARE(reply.status, 200);
    }
    const QByteArray grouped = get(metricsPort, "/metrics");
    QCOMPARE(sample(grouped, "tovrika_commit_batch_entries_sum"), 7.0);
    QVERIFY2(sample(grouped, "tovrika_commit_batch_entries_count") <= 3, grouped.constData());

    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (promtool.isEmpty() || prometheus.isEmpty())
        QFAIL("promtool and prometheus are needed (apt-get install prometheus)");
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    check.write(metrics);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(20000));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());

    // A real Prometheus scrapes it and answers a query for the entry counter.
    QTemporaryDir dir;
    QFile config(dir.filePath("prometheus.yml"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: tovrika\n    static_configs:\n"
                 "      - targets: ['127.0.0.1:"
                 + QByteArray::number(metricsPort) + "']\n");
    config.close();
    const quint16 prometheusPort = freeLoopbackPort();
    QProcess scraper;
    scraper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    scraper.start(prometheus, {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                               QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
    QVERIFY(scraper.waitForStarted(10000));
    auto scrapedOk = [&] {
        const QJsonObject answer = QJsonDocument::fromJson(
            get(prometheusPort, "/api/v1/query?query=tovrika_entries_total%7Banswer%3D%22OK%22%7D")).object();
        const QJsonArray result = answer.value("data").toObject().value("result").toArray();
        return !result.isEmpty() && result.first().toObject().value("value").toArray().last().toString() == "7";
    };
    QTRY_VERIFY_WITH_TIMEOUT(scrapedOk(), 30000);
    scraper.terminate();
    scraper.waitForFinished(10000);

    if (!TestDatabase::isPostgres()) {
        // The health check and the failed commits follow the files taken away.
        const QString path = parseDatabaseUrl(url).config.sqlitePath;
        for (const char *suffix : {"", "-wal", "-shm"})
            QVERIFY(QFile::remove(path + suffix));
        get(server.port(), "/healthz", &status);
        QCOMPARE(status, 503);
        QCOMPARE(server.get(entryTarget(30, "x", "30")).status, 503);
        const QByteArray failed = get(metricsPort, "/metrics");
        QCOMPARE(sample(failed, "tovrika_commit_failures_total"), 1.0);
        QCOMPARE(sample(failed, "tovrika_database_up"), 0.0);
        return;
    }
    // The health check follows the database down and back.
    m_databases.postgres()->stop();
    get(server.port(), "/healthz", &status);
    QCOMPARE(status, 503);
    QVERIFY(get(metricsPort, "/metrics").contains("tovrika_database_up 0\n"));
    QVERIFY2(m_databases.postgres()->start(&error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(get(server.port(), "/healthz"), QByteArray("OK"), 10000);
}

QTEST_GUILESS_MAIN(tst_RankingMetrics)
#include "tst_rankingmetrics.moc"

// Checks the ranking server's HTTP layer against hostile clients, with the
// real program on loopback: pipelined requests answered in order and none
// lost, a request hidden behind a body never run, malformed heads refused,
// HEAD storing nothing, the cap on connections from one address, a client
// that never reads its answers held to bounded memory and closed, and the
// access log naming the real method and protocol.
#include "server/support/ServerProcess.h"
#include "server/support/TestDatabase.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class tst_RankingHttp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void hostileExchanges_data();
    void hostileExchanges();
    void connectionsPerAddressAreCapped();
    void clientThatNeverReadsIsBoundedAndClosed();
    void accessLogNamesMethodAndProtocol();

private:
    bool startServer(const QStringList &extra = {});
    int storedEntries();

    TestDatabase m_databases;
    std::unique_ptr<ServerProcess> m_server;
};

namespace {

const QByteArray Entry = "GET " + entryTarget(10, "a", "5") + " HTTP/1.1\r\nHost: x\r\n\r\n";

// The status and body of each answer in a stream of pipelined answers.
QList<std::pair<int, QByteArray>> answers(QByteArray raw)
{
    QList<std::pair<int, QByteArray>> list;
    while (raw.startsWith("HTTP/1.1 ")) {
        const ServerProcess::Reply reply = ServerProcess::parse(raw);
        const qsizetype at = reply.head.toLower().indexOf("content-length: ");
        const int length = at < 0 ? 0 : reply.head.mid(at + 16).split('\r').first().toInt();
        list.append({reply.status, reply.body.left(length)});
        raw = reply.body.mid(length);
    }
    return list;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

void tst_RankingHttp::init() { m_server = std::make_unique<ServerProcess>(); }

bool tst_RankingHttp::startServer(const QStringList &extra)
{
    QString error;
    const QString url = m_databases.freshUrl(&error);
    const bool started = !url.isEmpty() && m_server->start(url, QStringList{"--rate", "0"} + extra, &error);
    if (!started)
        qWarning("%s", qPrintable(error));
    return started;
}

int tst_RankingHttp::storedEntries()
{
    const ServerProcess::Reply reply = m_server->get("/api/ranking?md=0&board=all");
    return QJsonDocument::fromJson(reply.body).object().value("total").toInt(-1);
}

void tst_RankingHttp::hostileExchanges_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QByteArray>("lastBody");
    QTest::addColumn<int>("stored");
    QTest::newRow("entry, then a missing page")
        << Entry + "GET /nope HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" << QList<int>{200, 404}
        << QByteArray() << 1;
    QTest::newRow("entry, then an old game's entry that closes")
        << Entry + "GET " + entryTarget(9, "b", "6", 0, "1") + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
        << QList<int>{200, 200} << QByteArray("INVALID_VERSION") << 1;
    QTest::newRow("entry behind a body by length")
        << "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello" + Entry << QList<int>{400}
        << QByteArray("ERROR") << 0;
    QTest::newRow("entry behind a chunked body")
        << "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + Entry << QList<int>{400}
        << QByteArray("ERROR") << 0;
    QTest::newRow("entry behind both framings")
        << "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + Entry
        << QList<int>{400} << QByteArray("ERROR") << 0;
    QTest::newRow("space before a header's colon")
        << "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding : chunked\r\n\r\n0\r\n\r\n" + Entry << QList<int>{400}
        << QByteArray("ERROR") << 0;
    QTest::newRow("HEAD on the entry path")
        << "HEAD " + entryTarget(10, "a", "5") + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
        << QList<int>{405} << QByteArray() << 0;
    QTest::newRow("POST with a large body")
        << "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n" + QByteArray(9000, 'p') << QList<int>{405}
        << QByteArray("ERROR") << 0;
    QTest::newRow("HTTP/1.0 without keep-alive") << QByteArray("GET / HTTP/1.0\r\n\r\n") << QList<int>{200}
                                                  << QByteArray() << 0;
}

void tst_RankingHttp::hostileExchanges()
{
    QFETCH(QByteArray, raw);
    QFETCH(QList<int>, statuses);
    QFETCH(QByteArray, lastBody);
    QFETCH(int, stored);
    QVERIFY(startServer());
    const ServerProcess::Reply reply = m_server->exchange(raw, 3000);
    // Every exchange here ends with the server closing, well before the idle time.
    QVERIFY2(reply.closed, reply.raw.constData());
    const QList<std::pair<int, QByteArray>> got = answers(reply.raw);
    QList<int> gotStatuses;
    for (const auto &[status, body] : got)
        gotStatuses.append(status);
    QCOMPARE(gotStatuses, statuses);
    if (!lastBody.isEmpty())
        QCOMPARE(got.last().second, lastBody);
    QCOMPARE(storedEntries(), stored);
}

void tst_RankingHttp::connectionsPerAddressAreCapped()
{
    QVERIFY(startServer({"--max-per-address", "3", "--trusted-proxy", "127.0.0.4"}));
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (const char *address : {"127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.4", "127.0.0.4", "127.0.0.4"}) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->bind(QHostAddress(address));
        held.back()->connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(held.back()->waitForConnected(5000));
    }
    QTest::qWait(300);
    const QByteArray request = "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    // A fourth from the same address is closed without an answer; others are served.
    const ServerProcess::Reply refused = m_server->exchange(request, 3000, QHostAddress("127.0.0.2"));
    QCOMPARE(refused.status, 0);
    QVERIFY(refused.closed);
    QCOMPARE(m_server->exchange(request, 3000, QHostAddress("127.0.0.3")).status, 200);
    // A trusted proxy speaks for many clients.
    QCOMPARE(m_server->exchange(request, 3000, QHostAddress("127.0.0.4")).status, 200);
    // Refusals are told as one count per address and interval, not a line each.
    for (int i = 0; i < 40; ++i)
        QVERIFY(m_server->exchange(request, 3000, QHostAddress("127.0.0.2")).closed);
    QCOMPARE(m_server->terminate(), 0);
    const QByteArray errors = m_server->standardError();
    QCOMPARE(errors.count("connections refused"), 1);
    QVERIFY2(errors.contains("127.0.0.2: 41 connections refused: more than 3 connections"), errors.constData());
}

void tst_RankingHttp::clientThatNeverReadsIsBoundedAndClosed()
{
    QVERIFY(startServer({"--idle-timeout", "1"}));
    const qint64 before = residentKiB(m_server->pid());
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_server->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    QByteArray pipelined;
    for (int i = 0; i < 200; ++i)
        pipelined += "GET /wuppet/wpbrand/tovrika/ HTTP/1.1\r\nHost: x\r\n\r\n";
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 peak = before;
    bool closed = false;
    while (!closed && elapsed.elapsed() < 15000) {
        if (::send(fd, pipelined.constData(), size_t(pipelined.size()), MSG_NOSIGNAL) < 0
            && errno != EAGAIN)
            closed = true;
        char byte;
        // The server's end is gone once a zero-byte peek reports its reset.
        if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno != EAGAIN)
            closed = true;
        peak = std::max(peak, residentKiB(m_server->pid()));
        QTest::qWait(50);
    }
    ::close(fd);
    QVERIFY2(closed, "the connection stayed open");
    QVERIFY2(elapsed.elapsed() < 8000, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY2(peak - before < 64 * 1024, qPrintable(QStringLiteral("%1 KiB more").arg(peak - before)));
    QCOMPARE(m_server->get("/").status, 200);
}

void tst_RankingHttp::accessLogNamesMethodAndProtocol()
{
    QVERIFY(startServer());
    m_server->exchange("HEAD / HTTP/1.0\r\n\r\n");
    m_server->exchange("DELETE /x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QCOMPARE(m_server->terminate(), 0);
    const QByteArray log = m_server->standardOutput();
    QVERIFY2(log.contains("\"HEAD / HTTP/1.0\" 200 -\n"), log.constData());
    QVERIFY2(log.contains("\"DELETE /x HTTP/1.1\" 405 5\n"), log.constData());
}

QTEST_GUILESS_MAIN(tst_RankingHttp)
#include "tst_rankinghttp.moc"

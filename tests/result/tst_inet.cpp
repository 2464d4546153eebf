// Checks our internet transfer object against a real HTTP server on
// 127.0.0.1: the bytes of the request line as the server receives them, one
// request per fetch and never a retry, the body handed back unchanged however
// the server frames it, and every way a transfer can fail ending in "no body"
// within the time-out.

#include "result/CurlLibrary.h"
#include "shell/BuildConfig.h"
#include "result/Inet.h"
#include "result/RankingEntry.h"
#include "support/FreePort.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QtTest>

#include <optional>

using OptionalBody = std::optional<QByteArray>;

namespace {

QByteArray entryUrl(const QString &server, const QString &name = QStringLiteral("ABC"),
                    const QString &userId = QStringLiteral("123456789"))
{
    return RankingEntry::requestUrl(server, 46, name, userId, 0);
}

QByteArray entryUrl(const LoopbackHttpServer &server)
{
    return entryUrl(server.baseUrl());
}

// A port on 127.0.0.1 that nobody listens on.
quint16 closedPort() { return freeLoopbackPort(); }

} // namespace

class TestInet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void designValues();
    void serverReceivesExactRequestLine_data();
    void serverReceivesExactRequestLine();
    void bodyComesBackUnchanged_data();
    void bodyComesBackUnchanged();
    void framingsOfTheBody_data();
    void framingsOfTheBody();
    void statusIsNotJudged_data();
    void statusIsNotJudged();
    void redirectIsNotFollowed();
    void refusedConnectionGivesNoBody();
    void notAnHttpUrlSendsNothing_data();
    void notAnHttpUrlSendsNothing();
    void silentServerTimesOut();
    void tricklingServerTimesOut();
    void hangUpIsNotRetried();
    void connectionLostBeforeTheEndGivesNoBody_data();
    void connectionLostBeforeTheEndGivesNoBody();
    void bodyAtTheCapIsKept();
    void bodyPastTheCapIsAbandoned();
    void tenMegabytesAreNotRead();
    void hostileChunkSizeGivesNoBody();
    void plainHttpGoesToTheProxyInAbsoluteForm();
    void noProxyIsHonoured();
    void missingTransferLibraryIsReported();
};

// The tests talk to 127.0.0.1 directly whatever proxy the machine names;
// the proxy tests set their own.
static void clearProxies()
{
    for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(name);
}

void TestInet::initTestCase()
{
    clearProxies();
}

void TestInet::cleanup()
{
    clearProxies();
}

void TestInet::designValues()
{
    const Inet inet;
    QCOMPARE(inet.protocol(), Inet::Protocol::HTTP);
    QCOMPARE(inet.remotePort(), 80);
    QCOMPARE(inet.url(), QStringLiteral("http://"));
    QCOMPARE(inet.requestTimeoutMs(), 60000);
    // What the built game hands its entry window: a minute for the entry.
    QCOMPARE(BuildConfig::site().transferTimeoutMs, 60000);
}

void TestInet::serverReceivesExactRequestLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("worked example") << "ABC" << "123456789"
        << QByteArray("/cgi-bin/tovrika/tovrentry.cgi?hs=46&nm=ABC@123456789&md=0&vr=2");
    // Nothing may be decoded on the way ("%2E" stays, "%26" stays) or
    // escaped a second time ("%25").
    QTest::newRow("escaped name") << "a&b=c d.e" << "-1"
        << QByteArray("/cgi-bin/tovrika/tovrentry.cgi?hs=46&nm=a%26b%3Dc%20d%2Ee@-1&md=0&vr=2");
    QTest::newRow("non-ASCII identifier") << "Z" << QStringLiteral("１#%")
        << QByteArray("/cgi-bin/tovrika/tovrentry.cgi?hs=46&nm=Z@%EF%BC%91%23%25&md=0&vr=2");
}

void TestInet::serverReceivesExactRequestLine()
{
    QFETCH(QString, name);
    QFETCH(QString, userId);
    QFETCH(QByteArray, target);

    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.answer("OK");

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(server.baseUrl(), name, userId)), OptionalBody("OK"));
    QCOMPARE(server.requestLines(), QList<QByteArray>{"GET " + target + " HTTP/1.1"});
    QCOMPARE(server.connections(), 1);
    QCOMPARE(inet.url(), server.baseUrl() + QString::fromLatin1(target));
}

void TestInet::bodyComesBackUnchanged_data()
{
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("OK") << QByteArray("OK");
    QTest::newRow("CANNOT_RANK_IN") << QByteArray("CANNOT_RANK_IN");
    QTest::newRow("INVALID_VERSION") << QByteArray("INVALID_VERSION");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("OK and a line break") << QByteArray("OK\n");
    QTest::newRow("lower case") << QByteArray("ok");
    QTest::newRow("binary") << QByteArray("O\0K\xff\r\n\r\n", 8);
}

void TestInet::bodyComesBackUnchanged()
{
    QFETCH(QByteArray, body);

    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.answer(body);

    Inet inet;
    const OptionalBody got = inet.OpenURL(entryUrl(server));
    QVERIFY(got.has_value());
    QCOMPARE(*got, body);
    QCOMPARE(server.requestLines().size(), 1);
}

// A CGI's output may come with a length, chunked, or ended by the close.
void TestInet::framingsOfTheBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("chunked");

    QTest::newRow("chunked OK") << QByteArray("OK") << true;
    QTest::newRow("chunked CANNOT_RANK_IN") << QByteArray("CANNOT_RANK_IN") << true;
    QTest::newRow("chunked empty") << QByteArray() << true;
    QTest::newRow("until close OK") << QByteArray("OK") << false;
    QTest::newRow("until close empty") << QByteArray() << false;
}

void TestInet::framingsOfTheBody()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, chunked);

    LoopbackHttpServer server;
    QVERIFY(server.listen());
    if (chunked)
        server.answerChunked(body);
    else
        server.answerUntilClose(body);

    Inet inet;
    const OptionalBody got = inet.OpenURL(entryUrl(server));
    QVERIFY(got.has_value());
    QCOMPARE(*got, body);
}

// Only the body counts: a complete answer under any status is handed on as
// it is (an error page then simply matches no answer word).
void TestInet::statusIsNotJudged_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("500 error page") << 500
        << QByteArray("<html><body><h1>500 Internal Server Error</h1></body></html>");
    QTest::newRow("500 with OK") << 500 << QByteArray("OK");
    QTest::newRow("404 with OK") << 404 << QByteArray("OK");
    QTest::newRow("503 with CANNOT_RANK_IN") << 503 << QByteArray("CANNOT_RANK_IN");
    QTest::newRow("302 with OK") << 302 << QByteArray("OK");
}

void TestInet::statusIsNotJudged()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.answer(body, status);

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody(body));
    QCOMPARE(server.requestLines().size(), 1);
}

void TestInet::redirectIsNotFollowed()
{
    // The place it points to would answer OK; the game keeps the redirect's own body.
    LoopbackHttpServer elsewhere, server;
    QVERIFY(elsewhere.listen() && server.listen());
    elsewhere.answer("OK");
    server.redirect(entryUrl(elsewhere), "MOVED");
    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody("MOVED"));
    QCOMPARE(elsewhere.connections(), 0);
}

void TestInet::refusedConnectionGivesNoBody()
{
    const quint16 port = closedPort();
    QVERIFY(port != 0);

    Inet inet;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(inet.OpenURL(entryUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))), OptionalBody());
    // Refused at once, not after the request's time-out of a minute.
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
}

void TestInet::notAnHttpUrlSendsNothing_data()
{
    QTest::addColumn<QString>("prefix");

    QTest::newRow("https") << "https://127.0.0.1:%1";
    QTest::newRow("no scheme") << "127.0.0.1:%1";
    QTest::newRow("no host") << "http://:%1";
}

void TestInet::notAnHttpUrlSendsNothing()
{
    QFETCH(QString, prefix);

    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.answer("OK");

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(prefix.arg(server.port()))), OptionalBody());
    QTest::qWait(50);
    QCOMPARE(server.connections(), 0);
}

void TestInet::silentServerTimesOut()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.neverAnswer();

    Inet inet;
    inet.setRequestTimeoutMs(400);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 380 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(server.requestLines().size(), 1);
    // Nothing went out again after the time-out either.
    QTest::qWait(300);
    QCOMPARE(server.connections(), 1);
}

// A byte every 100 ms never lets a transfer go idle; the time-out still
// bounds the whole request.
void TestInet::tricklingServerTimesOut()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.trickle();

    Inet inet;
    inet.setRequestTimeoutMs(500);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 480 && elapsed < 3000, qPrintable(QString::number(elapsed)));
}

// A server that reads the request and closes without answering may well
// have counted the entry: the request must not be sent a second time.
void TestInet::hangUpIsNotRetried()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.hangUp();

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    QTest::qWait(300);
    QCOMPARE(server.requestLines().size(), 1);
    QCOMPARE(server.connections(), 1);
}

// Half of "OKOK" is "OK": it must not pass for the answer word.
void TestInet::connectionLostBeforeTheEndGivesNoBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("status");

    QTest::newRow("length, half of OKOK") << QByteArray("OKOK") << false << 200;
    QTest::newRow("length, 500, half of a word twice")
        << QByteArray("CANNOT_RANK_INCANNOT_RANK_IN") << false << 500;
    QTest::newRow("chunked, no last chunk") << QByteArray("OK") << true << 200;
}

void TestInet::connectionLostBeforeTheEndGivesNoBody()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, chunked);
    QFETCH(int, status);

    LoopbackHttpServer server;
    QVERIFY(server.listen());
    if (chunked)
        server.chunkedCut(body);
    else
        server.closeHalfway(body, status);

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    QCOMPARE(server.requestLines().size(), 1);
}

void TestInet::bodyAtTheCapIsKept()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    const QByteArray body(64 * 1024, 'x');
    Inet inet;

    server.answer(body);
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody(body));
    server.answerUntilClose(body);
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody(body));
}

void TestInet::bodyPastTheCapIsAbandoned()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    const QByteArray body(64 * 1024 + 1, 'x');
    Inet inet;

    server.answer(body);
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    server.answerUntilClose(body);
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    QCOMPARE(server.requestLines().size(), 2);
}

// Ten megabytes: the fetch gives up at once instead of taking it all in, and
// the server sees the client hang up early.
void TestInet::tenMegabytesAreNotRead()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.sendHuge(10 * 1024 * 1024);

    Inet inet;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    qInfo("10 MB body abandoned after %lld ms", clock.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(server.lastBytesWritten() > 0, 5000);
    QVERIFY2(server.lastBytesWritten() < server.hugeBytes(),
             qPrintable(QString::number(server.lastBytesWritten())));
    QCOMPARE(server.requestLines().size(), 1);
}

// A chunk size of 2^63-1 after a first chunk: no answer, no fault (the
// sanitizer build aborts on any overflow), and no waiting for the bytes.
void TestInet::hostileChunkSizeGivesNoBody()
{
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.hostileChunk();

    Inet inet;
    // Far from the time-out, so that a busy machine cannot pass for waiting.
    inet.setRequestTimeoutMs(60000);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody());
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server.requestLines().size(), 1);
}

// Behind an ordinary HTTP proxy a plain http request is sent to the proxy
// whole, in absolute form; a CONNECT tunnel to port 80 is what such proxies
// refuse.
void TestInet::plainHttpGoesToTheProxyInAbsoluteForm()
{
    LoopbackHttpServer proxy;
    QVERIFY(proxy.listen());
    proxy.answer("OK");
    qputenv("http_proxy", proxy.baseUrl().toLatin1());

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(QStringLiteral("http://ranking.invalid"))), OptionalBody("OK"));
    QCOMPARE(proxy.requestLines(),
             QList<QByteArray>{"GET http://ranking.invalid/cgi-bin/tovrika/tovrentry.cgi"
                               "?hs=46&nm=ABC@123456789&md=0&vr=2 HTTP/1.1"});
    QCOMPARE(proxy.connections(), 1);
}

void TestInet::noProxyIsHonoured()
{
    LoopbackHttpServer proxy;
    QVERIFY(proxy.listen());
    proxy.answer("CANNOT_RANK_IN");
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.answer("OK");
    qputenv("http_proxy", proxy.baseUrl().toLatin1());
    qputenv("no_proxy", "example.org,127.0.0.1");

    Inet inet;
    QCOMPARE(inet.OpenURL(entryUrl(server)), OptionalBody("OK"));
    QCOMPARE(server.requestLines().size(), 1);
    QCOMPARE(proxy.connections(), 0);
}

// libcurl is loaded on first use: a system without it gets a clear reason,
// not a crash (and the entry window its ordinary failure message).
void TestInet::missingTransferLibraryIsReported()
{
    const CurlLibrary missing = CurlLibrary::load("libcurl-not-installed.so.4");
    QVERIFY(!missing.ok());
    QVERIFY2(missing.error().contains(QStringLiteral("libcurl-not-installed.so.4")), qPrintable(missing.error()));
    QVERIFY(CurlLibrary::system().ok());
}

TOVRIKA_TEST_MAIN(TestInet)
#include "tst_inet.moc"

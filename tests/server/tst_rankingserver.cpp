// Checks the real tovrika-ranking on loopback, over its database (SQLite, or
// PostgreSQL with TOVRIKA_TEST_DATABASE=postgresql): each answer word, the
// status of each malformed entry, the rate limit, the pages (and that the
// page kept between changes follows every entry), the JSON
// boards, methods and paths, the access log and the options.
#include "server/support/DirectConnection.h"
#include "server/support/ServerFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QtTest>

class tst_RankingServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answerWords();
    void malformedEntriesAreRefusedAndNotStored_data();
    void malformedEntriesAreRefusedAndNotStored();
    void rateLimitPerAddressAndPerId();
    void rankingPageShowsBoardsAndTheVisitor();
    void storedTextIsEscapedOnThePage();
    void keptPageFollowsEveryEntry();
    void jsonBoards();
    void methodsAndPaths();
    void accessLogAndTermination();
    void secondServerOnTheAddressRefusesToStart();
    void badOptionsExitWithCode2_data();
    void badOptionsExitWithCode2();

private:
    QJsonObject board(int mode, const QByteArray &name, const QByteArray &id = QByteArray());

    ServerFixture m_fixture;
    ServerProcess *m_server = nullptr;
};

void tst_RankingServer::init()
{
    QString error;
    QVERIFY2(m_fixture.init(&error), qPrintable(error));
    m_server = &m_fixture.server();
}

void tst_RankingServer::cleanup() { m_fixture.cleanup(); }

QJsonObject tst_RankingServer::board(int mode, const QByteArray &name, const QByteArray &id)
{
    QByteArray target = "/api/ranking?md=" + QByteArray::number(mode) + "&board=" + name;
    if (!id.isEmpty())
        target += "&id=" + id;
    const ServerProcess::Reply reply = m_server->get(target);
    return QJsonDocument::fromJson(reply.body).object();
}

void tst_RankingServer::answerWords()
{
    QVERIFY(m_fixture.start({QStringLiteral("--top"), QStringLiteral("1")}));
    ServerProcess::Reply reply = m_server->get(entryTarget(50, "Taro", "111"));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("OK"));
    QVERIFY(reply.head.contains("Content-Type: text/plain; charset=utf-8"));

    reply = m_server->get(entryTarget(40, "Hanako", "222"));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("CANNOT_RANK_IN"));

    reply = m_server->get(entryTarget(60, "Old", "333", 0, "1"));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("INVALID_VERSION"));
    // An old game's entry is not stored.
    QCOMPARE(board(0, "all").value("total").toInt(), 2);
}

void tst_RankingServer::malformedEntriesAreRefusedAndNotStored_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("score too high") << QByteArray("hs=302&nm=a@1&md=0&vr=2");
    QTest::newRow("mode 5") << QByteArray("hs=3&nm=a@1&md=5&vr=2");
    QTest::newRow("no name") << QByteArray("hs=3&md=0&vr=2");
    QTest::newRow("injection") << QByteArray("hs=3&nm=x%27%3B%20DROP%20TABLE%20best%3B--@1&md=0&vr=2");
    QTest::newRow("score twice") << QByteArray("hs=3&hs=4&nm=a@1&md=0&vr=2");
    QTest::newRow("long id") << QByteArray("hs=3&nm=a@123456789012345678&md=0&vr=2");
}

void tst_RankingServer::malformedEntriesAreRefusedAndNotStored()
{
    QFETCH(QByteArray, query);
    QVERIFY(m_fixture.start());
    const ServerProcess::Reply reply = m_server->get("/cgi-bin/tovrika/tovrentry.cgi?" + query);
    QCOMPARE(reply.status, 400);
    QCOMPARE(reply.body, QByteArray("ERROR"));
    QCOMPARE(board(0, "all").value("total").toInt(), 0);
    // The tables are all still there.
    QCOMPARE(m_server->get(entryTarget(3, "a", "1")).body, QByteArray("OK"));
}

void tst_RankingServer::rateLimitPerAddressAndPerId()
{
    QVERIFY(m_fixture.start({QStringLiteral("--rate"), QStringLiteral("3")}));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(m_server->get(entryTarget(10 + i, "a", QByteArray::number(i + 1))).status, 200);
    // A fourth entry from the same address within the minute.
    ServerProcess::Reply reply = m_server->get(entryTarget(99, "a", "77"));
    QCOMPARE(reply.status, 429);
    QCOMPARE(reply.body, QByteArray("BUSY"));
    QCOMPARE(board(0, "all").value("total").toInt(), 3);
    QVERIFY(board(0, "all", "77").value("visitor").isNull());
}

void tst_RankingServer::rankingPageShowsBoardsAndTheVisitor()
{
    QVERIFY(m_fixture.start({QStringLiteral("--top"), QStringLiteral("2"), QStringLiteral("--rate"), QStringLiteral("0")}));
    m_server->get(entryTarget(90, "First", "1"));
    m_server->get(entryTarget(80, "Second", "2"));
    m_server->get(entryTarget(70, "Me", "-3"));
    m_server->get(entryTarget(60, "Other", "4", 1));
    m_server->get(entryTarget(60, "Later", "5", 1));

    ServerProcess::Reply reply = m_server->get("/wuppet/wpbrand/tovrika/?id=-3");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.head.contains("Content-Type: text/html; charset=utf-8"));
    const QString page = QString::fromUtf8(reply.body);
    QVERIFY(page.startsWith(QStringLiteral("<!DOCTYPE html>")));
    QVERIFY(page.contains(QStringLiteral("<html lang=\"ja\">")));
    for (const char *title : {"30秒間激走モード", "90秒間耐久モード", "今日", "今週", "総合"})
        QVERIFY2(page.contains(QString::fromUtf8(title)), title);
    QVERIFY(page.contains(QStringLiteral("First")));
    // Below the first two rows: the visitor's own row, rank and share, on each board of the mode.
    QCOMPARE(page.count(QStringLiteral("<tr class=\"own\" aria-current=\"true\"><td class=\"rank\">3</td>"
                                       "<td class=\"name\">Me<span class=\"you\">（あなた）</span></td>")),
             3);
    QCOMPARE(page.count(QStringLiteral("上位 100.0%")), 3);
    // A score reached earlier stands first, and a tie shares the rank.
    const qsizetype other = page.indexOf(QStringLiteral("<td class=\"rank\">1</td><td class=\"name\">Other</td>"));
    const qsizetype later = page.indexOf(QStringLiteral("<td class=\"rank\">1</td><td class=\"name\">Later</td>"));
    QVERIFY(other >= 0 && later > other);

    // Without an identifier, or with one that is not, the boards alone.
    for (const QByteArray &target : {QByteArray("/wuppet/wpbrand/tovrika/"),
                                     QByteArray("/wuppet/wpbrand/tovrika/?id=%3Cscript%3E")}) {
        reply = m_server->get(target);
        QCOMPARE(reply.status, 200);
        QVERIFY(!reply.body.contains("class=\"own\""));
        QVERIFY(!reply.body.contains("Me"));
    }
}

void tst_RankingServer::keptPageFollowsEveryEntry()
{
    QVERIFY(m_fixture.start({QStringLiteral("--top"), QStringLiteral("1"), QStringLiteral("--rate"), QStringLiteral("0")}));
    const QByteArray page = "/wuppet/wpbrand/tovrika/", mine = page + "?id=2";
    const QByteArray ownRow = "<tr class=\"own\" aria-current=\"true\"><td class=\"rank\"";
    // Each step: an entry, its answer, then what the page with and without the visitor 2 must hold.
    // Entries that do not rank in change only the visitor's part; the others the boards too.
    const struct
    {
        int score;
        const char *name, *id, *answer, *plain, *visitor;
    } steps[] = {
        {90, "Top", "1", "OK", "Top", "Top"},
        {50, "Mine", "2", "CANNOT_RANK_IN", "Top", ">2</td><td class=\"name\">Mine<span class=\"you\">（あなた）</span></td><td class=\"score\">50<"},
        {60, "Mine", "2", "CANNOT_RANK_IN", "Top", ">2</td><td class=\"name\">Mine<span class=\"you\">（あなた）</span></td><td class=\"score\">60<"},
        {70, "Other", "3", "CANNOT_RANK_IN", "Top", ">3</td><td class=\"name\">Mine<span class=\"you\">（あなた）</span></td>"},
        {95, "Mine", "2", "OK", "Mine",
         ">1</td><td class=\"name\">Mine<span class=\"you\">（あなた）</span></td><td class=\"score\">95<"},
    };
    for (const auto &step : steps) {
        // Both pages are kept before the entry, so that the entry must replace them.
        m_server->get(page);
        m_server->get(mine);
        QCOMPARE(m_server->get(entryTarget(step.score, step.name, step.id)).body, QByteArray(step.answer));
        // This address's own entry shows at once on the page without a
        // visitor, and visitor 2's own on theirs; another's within a second.
        const QByteArray plain = m_server->get(page).body;
        QVERIFY2(plain.contains(step.plain) && !plain.contains("class=\"own\""), step.name);
        const bool ownStep = QByteArray(step.visitor).startsWith('>');
        const QByteArray wanted = ownStep ? ownRow + step.visitor : QByteArray(step.visitor);
        if (qstrcmp(step.id, "2") == 0)
            QVERIFY2(m_server->get(mine).body.contains(wanted), step.name);
        else
            QTRY_VERIFY2_WITH_TIMEOUT(m_server->get(mine).body.contains(wanted), step.name, 3000);
    }
}

void tst_RankingServer::storedTextIsEscapedOnThePage()
{
    // No name the rule admits needs escaping; a row written by hand or by
    // another tool into the database must still not become markup.
    QVERIFY(m_fixture.start());
    m_server->get(entryTarget(5, "Plain", "1"));
    QCOMPARE(m_server->terminate(), 0);
    QVERIFY(DirectConnection(m_fixture.url())
                .exec(QStringLiteral("UPDATE entry_log SET name = ?"), {QStringLiteral("<script>alert('x')</script>&")}));
    QVERIFY(m_fixture.start());
    const QByteArray page = m_server->get("/wuppet/wpbrand/tovrika/").body;
    QVERIFY(!page.contains("<script>"));
    QVERIFY(page.contains("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;"));
}

void tst_RankingServer::jsonBoards()
{
    QVERIFY(m_fixture.start());
    m_server->get(entryTarget(10, "B", "2"));
    m_server->get(entryTarget(20, "A", "1"));
    m_server->get(entryTarget(10, "C", "3"));
    const QJsonObject all = board(0, "all", "3");
    QCOMPARE(all.value("board").toString(), QStringLiteral("all"));
    const QJsonArray rows = all.value("rows").toArray();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].toObject().value("name").toString(), QStringLiteral("A"));
    QCOMPARE(rows[1].toObject().value("name").toString(), QStringLiteral("B"));
    QCOMPARE(rows[2].toObject().value("rank").toInt(), 2);
    QVERIFY(rows[2].toObject().value("own").toBool());
    QVERIFY(!rows[0].toObject().value("own").toBool());
    QCOMPARE(board(0, "today").value("rows").toArray().size(), 3);
    QCOMPARE(board(1, "week").value("rows").toArray().size(), 0);
    QCOMPARE(m_server->get("/api/ranking?md=2&board=all").status, 400);
    QCOMPARE(m_server->get("/api/ranking?md=0&board=year").status, 400);
}

void tst_RankingServer::methodsAndPaths()
{
    QVERIFY(m_fixture.start());
    ServerProcess::Reply reply = m_server->get("/");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("/wuppet/wpbrand/tovrika/"));
    QCOMPARE(m_server->get("/nothing/here").status, 404);
    QCOMPARE(m_server->get("/wuppet/wpbrand/tovrika/x").status, 404);

    reply = m_server->get("/", "HEAD");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.isEmpty());
    QVERIFY(reply.head.contains("Content-Length: "));
    QVERIFY(!reply.head.contains("Content-Length: 0"));

    for (const QByteArray &method : {QByteArray("POST"), QByteArray("PUT"), QByteArray("DELETE")}) {
        reply = m_server->exchange(method + " " + entryTarget(5, "a", "1")
                                   + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        QCOMPARE(reply.status, 405);
        QVERIFY(reply.head.contains("Allow: GET, HEAD"));
    }
    // A GET with a body is refused and the connection closed.
    reply = m_server->exchange("GET " + entryTarget(5, "a", "1")
                               + " HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello");
    QCOMPARE(reply.status, 400);
    QVERIFY(reply.closed);
    QCOMPARE(board(0, "all").value("total").toInt(), 0);
}

void tst_RankingServer::accessLogAndTermination()
{
    QVERIFY(m_fixture.start());
    m_server->get(entryTarget(5, "a", "1"));
    m_server->get("/missing");
    QCOMPARE(m_server->terminate(), 0);
    const QList<QByteArray> lines = m_server->standardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QRegularExpression common(QStringLiteral(
        R"(^127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "GET (\S+) HTTP/1\.1" (\d{3}) (\d+|-)$)"));
    QRegularExpressionMatch match = common.match(QString::fromLatin1(lines[0]));
    QVERIFY2(match.hasMatch(), lines[0].constData());
    QCOMPARE(match.captured(1), QString::fromLatin1(entryTarget(5, "a", "1")));
    QCOMPARE(match.captured(2), QStringLiteral("200"));
    QCOMPARE(match.captured(3), QStringLiteral("2"));
    match = common.match(QString::fromLatin1(lines[1]));
    QVERIFY2(match.hasMatch(), lines[1].constData());
    QCOMPARE(match.captured(2), QStringLiteral("404"));
}

void tst_RankingServer::secondServerOnTheAddressRefusesToStart()
{
    // Sharing the port would split the players between two servers and
    // perhaps two databases, with nothing to tell the operator.
    QVERIFY(m_fixture.start());
    QTemporaryDir dir;
    QProcess second;
    second.start(ServerProcess::executable(),
                 {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(m_server->port()),
                  QStringLiteral("--database"), QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("x.sqlite"))});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("Address already in use"));
    QCOMPARE(m_server->get(entryTarget(5, "a", "1")).body, QByteArray("OK"));
}

void tst_RankingServer::badOptionsExitWithCode2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"};
    QTest::newRow("listen without port") << QStringList{"--listen", "127.0.0.1"};
    QTest::newRow("listen bad address") << QStringList{"--listen", "300.1.1.1:80"};
    QTest::newRow("port too large") << QStringList{"--listen", "127.0.0.1:70000"};
    QTest::newRow("top zero") << QStringList{"--top", "0"};
    QTest::newRow("top text") << QStringList{"--top", "many"};
    QTest::newRow("rate negative") << QStringList{"--rate", "-1"};
    QTest::newRow("unknown zone") << QStringList{"--timezone", "Mars/Olympus"};
    QTest::newRow("bad database url") << QStringList{"--database", "mysql://x/y"};
    QTest::newRow("postgres without name") << QStringList{"--database", "postgresql://u@host:5432/"};
    QTest::newRow("stray argument") << QStringList{"extra"};
}

void tst_RankingServer::badOptionsExitWithCode2()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(ServerProcess::executable(), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    const QList<QByteArray> lines = process.readAllStandardError().trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0].startsWith("tovrika-ranking: "));

    QProcess help;
    help.start(ServerProcess::executable(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--database"));
}

QTEST_GUILESS_MAIN(tst_RankingServer)
#include "tst_rankingserver.moc"

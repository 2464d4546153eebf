// Checks the example nginx site file with Debian's nginx in front of two
// ranking servers on one PostgreSQL database: the file as shipped passes
// nginx -t; entries from many clients are each counted once and name the
// client, and both servers show the same page; the limits per player and per
// address hold across both servers; an entry goes to the other server when
// one is down; and with one server killed under load nginx carries on with
// the other and no entry is stored twice.
#include "server/support/ConcurrentRequests.h"
#include "server/support/DirectConnection.h"
#include "server/support/ServerFixture.h"
#include "support/Skips.h"
#include "support/FreePort.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <sys/prctl.h>

namespace {

// nginx as the PATH finds it, as an operator would start it.
const QString Nginx = QStandardPaths::findExecutable(QStringLiteral("nginx"));
// Clients come from 127.0.0.2 onwards, one address after another.
constexpr int Clients = 39;

QByteArray entry(int id) { return entryTarget(10 + id % 200, "p", QByteArray::number(id)); }

// The entries of players first, first + 1, ... first + count - 1.
QList<QByteArray> entries(int first, int count)
{
    QList<QByteArray> targets;
    for (int id = first; id < first + count; ++id)
        targets << entry(id);
    return targets;
}

qsizetype countStatus(const QList<ServerProcess::Reply> &replies, int status)
{
    return std::count_if(replies.begin(), replies.end(), [status](const auto &r) { return r.status == status; });
}

int distinct(const QStringList &values) { return int(QSet<QString>(values.begin(), values.end()).size()); }

} // namespace

class tst_RankingNginx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void entriesFromManyClientsAreCountedOnce();
    void limitsHoldAcrossServers();
    void entryGoesToTheOtherServerWhenOneIsDown();
    void killedServerUnderLoadLeavesTheOtherServing();

private:
    // nginx's own configuration around a site file, in the temporary folder.
    QString writeConfig(const QString &sitePath);
    // Sends every target at once, each from the next client address, or all
    // from 127.0.0.(2 + client); `polled` sees how many have finished.
    QList<ServerProcess::Reply> sendAll(const QList<QByteArray> &targets, int client = -1,
                                        const std::function<void(int)> &polled = {});
    QStringList logged(const QString &column);
    int entriesServed();
    int total();

    ServerFixture m_fixture;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServerProcess> m_servers[2];
    std::unique_ptr<QProcess> m_nginx;
    quint16 m_port = 0;
    int m_nextClient = 0;
};

void tst_RankingNginx::initTestCase()
{
    if (!m_fixture.isPostgres())
        QSKIP("several servers on one database are checked on PostgreSQL (TOVRIKA_TEST_DATABASE=postgresql)");
    if (Nginx.isEmpty())
        TOVRIKA_SKIP("nginx is not installed (apt-get install nginx)");
    // The shipped file is valid nginx as it is, before any address is changed.
    m_dir = std::make_unique<QTemporaryDir>();
    QProcess check;
    check.start(Nginx, {"-t", "-p", m_dir->path() + '/', "-e", m_dir->filePath("error.log"), "-c",
                        writeConfig(QStringLiteral(TOVRIKA_NGINX_SITE))});
    QVERIFY(check.waitForFinished(20000));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
}

QString tst_RankingNginx::writeConfig(const QString &sitePath)
{
    const QString dir = m_dir->path();
    QString config = QStringLiteral("daemon off;\nmaster_process off;\npid %1/nginx.pid;\nerror_log %1/error.log;\n"
                                    "events {}\nhttp {\n    include /etc/nginx/mime.types;\n"
                                    "    access_log %1/access.log;\n")
                         .arg(dir);
    for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += QStringLiteral("    %1_temp_path %2/%1;\n").arg(QLatin1String(temp), dir);
    config += QStringLiteral("    include %1;\n}\n").arg(sitePath);
    QFile file(m_dir->filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

void tst_RankingNginx::init()
{
    QString error;
    QVERIFY2(m_fixture.init(&error), qPrintable(error));
    m_dir = std::make_unique<QTemporaryDir>();
    QFile shipped(QStringLiteral(TOVRIKA_NGINX_SITE));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QString site = QString::fromUtf8(shipped.readAll());
    m_port = freeLoopbackPort();
    QStringList replaced{QStringLiteral("listen 80;"), QStringLiteral("listen 127.0.0.1:%1;").arg(m_port)};
    for (int i = 0; i < 2; ++i) {
        m_servers[i] = std::make_unique<ServerProcess>();
        QVERIFY2(m_servers[i]->start(m_fixture.url(), {"--trusted-proxy", "127.0.0.1"}, &error), qPrintable(error));
        replaced << QStringLiteral("server 127.0.0.1:%1 ").arg(8642 + i)
                 << QStringLiteral("server 127.0.0.1:%1 ").arg(m_servers[i]->port());
    }
    // Only the addresses change; each must be there exactly once.
    for (qsizetype i = 0; i < replaced.size(); i += 2) {
        QCOMPARE(site.count(replaced[i]), 1);
        site.replace(replaced[i], replaced[i + 1]);
    }
    QFile copy(m_dir->filePath(QStringLiteral("site.conf")));
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(site.toUtf8()) > 0);
    copy.close();
    m_nginx = std::make_unique<QProcess>();
    m_nginx->setProcessChannelMode(QProcess::ForwardedChannels);
    // nginx ends with this test even when the test itself is killed.
    m_nginx->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_nginx->start(Nginx, {"-p", m_dir->path() + '/', "-e", m_dir->filePath("error.log"), "-c",
                           writeConfig(copy.fileName())});
    QVERIFY(m_nginx->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_nginx->state() == QProcess::NotRunning || sendAll({"/"}).first().status == 200, 10000);
    QCOMPARE(m_nginx->state(), QProcess::Running);
}

void tst_RankingNginx::cleanup()
{
    if (m_nginx) {
        m_nginx->kill();
        m_nginx->waitForFinished(10000);
    }
    m_nginx.reset();
    m_servers[0].reset();
    m_servers[1].reset();
    m_dir.reset();
}

QList<ServerProcess::Reply> tst_RankingNginx::sendAll(const QList<QByteArray> &targets, int client,
                                                       const std::function<void(int)> &polled)
{
    QList<ConcurrentRequests::Request> requests;
    for (const QByteArray &target : targets) {
        // Another loopback address is another client to nginx.
        const int from = client < 0 ? m_nextClient++ % Clients : client;
        requests.append({m_port, target, QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + from)),
                         "ranking.example.org"});
    }
    return ConcurrentRequests(requests).wait(30000, polled);
}

QStringList tst_RankingNginx::logged(const QString &column)
{
    return DirectConnection(m_fixture.url()).column(QStringLiteral("SELECT %1 FROM entry_log").arg(column));
}

int tst_RankingNginx::total()
{
    const QByteArray board = sendAll({"/api/ranking?md=0&board=all"}).first().body;
    return QJsonDocument::fromJson(board).object().value("total").toInt(-1);
}

int tst_RankingNginx::entriesServed()
{
    // Each server's access log: what reached it.
    int served = 0;
    for (const auto &server : m_servers)
        served += server->isRunning() ? int(server->standardOutput().count("tovrentry.cgi")) : 0;
    return served;
}

void tst_RankingNginx::entriesFromManyClientsAreCountedOnce()
{
    constexpr int Entries = 120;
    QCOMPARE(countStatus(sendAll(entries(1, Entries)), 200), Entries);
    QCOMPARE(total(), Entries);
    const QStringList ids = logged("uid");
    QCOMPARE(ids.size(), Entries);
    QCOMPARE(distinct(ids), Entries);
    // The servers count the player's address, which nginx names, not nginx's.
    const QStringList clients = logged("client");
    QCOMPARE(distinct(clients), Clients);
    QVERIFY(!clients.contains("127.0.0.1"));
    // Both servers took entries, and show the same page.
    QTRY_COMPARE(entriesServed(), Entries);
    for (const auto &server : m_servers)
        QVERIFY(server->standardOutput().count("tovrentry.cgi") > Entries / 4);
    const QByteArray page = "/wuppet/wpbrand/tovrika/?id=7";
    QCOMPARE(sendAll({page}).first().status, 200);
    // Each server keeps its page until the other's commits are notified.
    const auto samePage = [&] {
        const QByteArray viaNginx = sendAll({page}).first().body;
        return m_servers[0]->get(page).body == viaNginx && m_servers[1]->get(page).body == viaNginx;
    };
    QTRY_VERIFY(samePage());
}

void tst_RankingNginx::limitsHoldAcrossServers()
{
    // One player from eleven addresses at once: ten pass, spread over both servers.
    const QList<ServerProcess::Reply> replies = sendAll(QList<QByteArray>(11, entry(42)));
    QCOMPARE(countStatus(replies, 200), 10);
    const auto busy = std::find_if(replies.begin(), replies.end(), [](const auto &r) { return r.status == 429; });
    QVERIFY(busy != replies.end());
    QCOMPARE(busy->body, QByteArray("BUSY"));
    QVERIFY(busy->head.contains("Content-Type: text/plain"));
    // The player's ID spelled otherwise, or twice, is refused before it reaches a server.
    const QByteArray escapedKey = "/cgi-bin/tovrika/tovrentry.cgi?hs=5&n%6D=p@42&md=0&vr=2";
    const QByteArray twice = entryTarget(5, "p", "42") + "&nm=p@43";
    for (const QByteArray &other : {entryTarget(5, "p", "%34%32"), escapedKey, twice}) {
        const ServerProcess::Reply refused = sendAll({other}).first();
        QCOMPARE(refused.status, 400);
        QCOMPARE(refused.body, QByteArray("ERROR"));
    }
    // Eleven players from one address: the address has ten too.
    QCOMPARE(countStatus(sendAll(entries(1, 11), 30), 429), 1);
    // What reached the servers, once their access logs are out: no more.
    QTest::qWait(400);
    QTRY_COMPARE(entriesServed(), 20);
    QCOMPARE(logged("uid").size(), 20);
}

void tst_RankingNginx::entryGoesToTheOtherServerWhenOneIsDown()
{
    m_servers[0]->kill9();
    // Whichever entry nginx first sends to the dead server is not lost.
    for (int id = 1; id <= 4; ++id) {
        QCOMPARE(sendAll({entry(id)}).first().body, QByteArray("OK"));
        // And the page comes from the server left, whichever nginx tries first.
        const ServerProcess::Reply page = sendAll({"/wuppet/wpbrand/tovrika/"}).first();
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("<!DOCTYPE html>"));
    }
    QCOMPARE(logged("uid").size(), 4);
}

void tst_RankingNginx::killedServerUnderLoadLeavesTheOtherServing()
{
    constexpr int Entries = 160;
    int answeredAtKill = 0;
    // Killed while entries wait on both servers: the log's write lock is
    // held here until then. Without it a fast pair of servers answered all
    // of them within one turn of the wait, before any kill.
    DirectConnection holder(m_fixture.url());
    QVERIFY(holder.holdEntryLogWriteLock());
    QElapsedTimer held;
    held.start();
    const QList<ServerProcess::Reply> replies = sendAll(entries(1, Entries), -1, [&](int finished) {
        if (held.isValid() && held.elapsed() > 300) {
            answeredAtKill = finished;
            m_servers[0]->kill9();
            QVERIFY(holder.exec(QStringLiteral("COMMIT")));
            held.invalidate();
        }
    });
    QVERIFY(!m_servers[0]->isRunning());
    QSet<QString> answeredOk;
    int failed = 0;
    for (qsizetype i = 0; i < replies.size(); ++i) {
        if (replies[i].body == "OK")
            answeredOk << QString::number(i + 1);
        else if (replies[i].status == 502 && replies[i].body == "ERROR")
            ++failed;
        else
            QFAIL(qPrintable("neither OK nor ERROR: " + replies[i].head + '\n' + replies[i].body));
    }
    // After the kill nginx sends every entry to the server left.
    for (int id = Entries + 1; id <= Entries + 10; ++id) {
        QCOMPARE(sendAll({entry(id)}).first().body, QByteArray("OK"));
        answeredOk << QString::number(id);
    }
    // No entry stored twice, every OK stored, and an entry in flight on the
    // killed server perhaps stored without an answer.
    const QStringList ids = logged("uid");
    qInfo("killed after %d answers: %lld entries OK, %d ERROR, %lld stored", answeredAtKill, answeredOk.size(),
          failed, ids.size());
    QCOMPARE(distinct(ids), ids.size());
    QVERIFY(QSet<QString>(ids.begin(), ids.end()).contains(answeredOk));
    QVERIFY(ids.size() <= answeredOk.size() + failed);
    QCOMPARE(total(), ids.size());
}

TOVRIKA_GUILESS_MAIN(tst_RankingNginx)
#include "tst_rankingnginx.moc"

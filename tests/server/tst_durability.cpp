// Proves that an entry answered "OK" was on the disk first. The server and
// its database are traced (strace) while entries arrive one at a time and
// many at once: for each OK, a sync of the database's log (SQLite's -wal
// file, PostgreSQL's pg_wal) must begin after the entry arrived and end
// before its answer was sent. A kill -9 cannot tell this, since the kernel
// keeps unsynced writes; preloaded with a library that turns the syncs into
// no-ops, this test fails.
#include "server/support/ConcurrentRequests.h"
#include "server/support/DirectConnection.h"
#include "server/support/ServerFixture.h"
#include "server/support/TestPostgres.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Sync
{
    double start = 0, end = 0;
    QString path;
};

struct Io
{
    double at = 0;
    QString fd;
    QByteArray data;
    bool received = false;
};

// The syscalls of strace -f -ttt -T -y output; a call that another thread
// interrupted is joined to its end. A sync counts from its start to its end,
// an arrival from the end of its read, an answer from the start of its send.
void parseTrace(const QString &fileName, QList<Sync> *syncs, QList<Io> *ios)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression call(QStringLiteral(
        R"(^(\d+) +(\d+\.\d+) (\w+)\((\d+<[^>]*>)(.*?)(<unfinished \.\.\.>|\) += (-?\d+).*<([\d.]+)>)$)"));
    static const QRegularExpression resumed(
        QStringLiteral(R"(^(\d+) +(\d+\.\d+) <\.\.\. (\w+) resumed>(.*?)\) += (-?\d+).*<([\d.]+)>$)"));
    struct Started
    {
        QString name, fd;
        double at;
        QByteArray data;
    };
    QHash<QString, Started> unfinished;
    auto add = [&](const QString &name, const QString &fd, double start, double end, const QByteArray &data) {
        if (name.contains(QLatin1String("sync")))
            syncs->append({start, end, fd});
        else if (name.startsWith(u'r'))
            ios->append({end, fd, data, true});
        else
            ios->append({start, fd, data, false});
    };
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        QRegularExpressionMatch m = call.match(line);
        if (m.hasMatch()) {
            const double at = m.captured(2).toDouble();
            if (m.captured(6).startsWith(u'<'))
                unfinished.insert(m.captured(1), {m.captured(3), m.captured(4), at, m.captured(5).toUtf8()});
            else if (m.captured(7).toInt() >= (m.captured(3).contains(QLatin1String("sync")) ? 0 : 1))
                add(m.captured(3), m.captured(4), at, at + m.captured(8).toDouble(), m.captured(5).toUtf8());
            continue;
        }
        m = resumed.match(line);
        if (m.hasMatch() && unfinished.contains(m.captured(1))) {
            const Started started = unfinished.take(m.captured(1));
            if (m.captured(5).toInt() >= (started.name.contains(QLatin1String("sync")) ? 0 : 1))
                add(started.name, started.fd, started.at, started.at + m.captured(6).toDouble(),
                    started.data + m.captured(4).toUtf8());
        }
    }
}

// strace attached to running processes and every thread and child they start.
class Tracer
{
public:
    bool attach(const QList<qint64> &pids, const QString &output)
    {
        QStringList arguments{"-f", "-ttt", "-T", "-y", "-s", "4096", "-o", output, "-e",
                              "trace=fsync,fdatasync,read,recvfrom,recvmsg,write,writev,sendto,sendmsg"};
        for (qint64 pid : pids)
            arguments << "-p" << QString::number(pid);
        m_strace.start(QStringLiteral("strace"), arguments);
        if (!m_strace.waitForStarted(5000))
            return false;
        // strace names each process it holds on standard error.
        QByteArray told;
        for (int i = 0; i < 100 && told.count("attached") < pids.size(); ++i) {
            m_strace.waitForReadyRead(100);
            told += m_strace.readAllStandardError();
        }
        return told.count("attached") >= pids.size();
    }
    void detach()
    {
        if (m_strace.state() != QProcess::Running)
            return;
        ::kill(pid_t(m_strace.processId()), SIGINT);
        m_strace.waitForFinished(10000);
    }

private:
    QProcess m_strace;
};

// The postmaster and the processes it has started.
QList<qint64> postgresProcesses(qint64 postmaster)
{
    QList<qint64> pids{postmaster};
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(postmaster));
    if (children.open(QIODevice::ReadOnly)) {
        for (const QByteArray &pid : children.readAll().simplified().split(' '))
            if (!pid.isEmpty())
                pids << pid.toLongLong();
    }
    return pids;
}

} // namespace

class tst_Durability : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QString error;
        QVERIFY2(m_fixture.init(&error), qPrintable(error));
    }
    void cleanup() { m_fixture.cleanup(); }
    void everyOkFollowsASyncOfTheLog();

private:
    ServerFixture m_fixture;
};

void tst_Durability::everyOkFollowsASyncOfTheLog()
{
    ServerProcess &server = m_fixture.server();
    QVERIFY(m_fixture.start({"--rate", "0"}));
    if (m_fixture.isPostgres()) {
        // The cluster syncs and a commit waits for its sync; were the
        // server's own session to turn that off, the trace below would show it.
        DirectConnection db(m_fixture.url());
        for (const char *setting : {"fsync", "synchronous_commit", "full_page_writes"})
            QCOMPARE(db.column(QStringLiteral("SHOW ") + setting), QStringList{"on"});
    }
    QTemporaryDir dir;
    Tracer serverTrace, databaseTrace;
    QVERIFY(serverTrace.attach({server.pid()}, dir.filePath("server")));
    if (m_fixture.isPostgres())
        QVERIFY(databaseTrace.attach(postgresProcesses(m_fixture.postgres()->pid()), dir.filePath("database")));

    // Entries one at a time, then a group that arrives together.
    QList<QByteArray> ok;
    for (int id = 1; id <= 3; ++id) {
        const QByteArray target = entryTarget(100 + id, "d", QByteArray::number(id));
        QCOMPARE(server.get(target).body, QByteArray("OK"));
        ok << target;
    }
    QList<QByteArray> group;
    for (int id = 10; id < 18; ++id)
        group << entryTarget(200 + id, "d", QByteArray::number(id));
    const QList<ServerProcess::Reply> replies = ConcurrentRequests(server.port(), group).wait();
    for (qsizetype i = 0; i < group.size(); ++i) {
        QCOMPARE(replies[i].body, QByteArray("OK"));
        ok << group[i];
    }
    serverTrace.detach();
    databaseTrace.detach();

    QList<Sync> syncs;
    QList<Io> ios;
    parseTrace(dir.filePath("server"), &syncs, &ios);
    parseTrace(dir.filePath("database"), &syncs, &ios);
    const QString log = m_fixture.isPostgres() ? QStringLiteral("/pg_wal/") : QStringLiteral(".sqlite-wal>");
    for (const QByteArray &target : ok) {
        const auto arrival = std::find_if(ios.begin(), ios.end(), [&](const Io &io) {
            return io.received && io.data.contains("GET " + target + ' ');
        });
        QVERIFY2(arrival != ios.end(), target.constData());
        const auto answer = std::find_if(arrival, ios.end(), [&](const Io &io) {
            return !io.received && io.fd == arrival->fd && io.data.contains("\"HTTP/1.1 200 ");
        });
        QVERIFY2(answer != ios.end(), target.constData());
        const bool synced = std::any_of(syncs.begin(), syncs.end(), [&](const Sync &sync) {
            return sync.path.contains(log) && sync.start >= arrival->at && sync.end <= answer->at;
        });
        QVERIFY2(synced, qPrintable(QStringLiteral("no sync of the log between the arrival of %1 and its answer (%2 syncs traced)")
                                        .arg(QString::fromLatin1(target)).arg(syncs.size())));
    }
}

QTEST_GUILESS_MAIN(tst_Durability)
#include "tst_durability.moc"

#include "server/support/TestPostgres.h"

#include "support/FreePort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

QString findPostgresBin()
{
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const QString bin = root.filePath(*it + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return QString();
}

bool asRoot() { return ::geteuid() == 0; }

} // namespace

TestPostgres::TestPostgres() : m_bin(findPostgresBin()) {}

TestPostgres::~TestPostgres() { stop(); }

QStringList TestPostgres::commandAs(const QString &program, const QStringList &arguments) const
{
    QStringList command;
    if (asRoot())
        // setpriv executes the program itself, so signals reach postgres directly.
        command << QStringLiteral("setpriv") << QStringLiteral("--reuid=postgres")
                << QStringLiteral("--regid=postgres") << QStringLiteral("--init-groups") << QStringLiteral("--");
    command << m_bin + u'/' + program;
    command << arguments;
    return command;
}

bool TestPostgres::run(const QString &program, const QStringList &arguments, QString *error) const
{
    const QStringList command = commandAs(program, arguments);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool TestPostgres::start(QString *error)
{
    if (m_bin.isEmpty()) {
        *error = QStringLiteral("PostgreSQL is not installed (/usr/lib/postgresql/*/bin/initdb)");
        return false;
    }
    if (!m_initialised) {
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tovrika-pg.XXXXXX"));
        if (!m_dir->isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        if (asRoot()) {
            const passwd *user = ::getpwnam("postgres");
            if (!user || ::chown(qPrintable(m_dir->path()), user->pw_uid, user->pw_gid) != 0) {
                *error = QStringLiteral("cannot hand the folder to the user postgres");
                return false;
            }
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_dir->path() + QStringLiteral("/data"), QStringLiteral("-U"),
                  QStringLiteral("tovrika"), QStringLiteral("--auth=trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--no-sync")},
                 error))
            return false;
        QDir().mkpath(m_dir->path() + QStringLiteral("/socket"));
        if (asRoot()) {
            const passwd *user = ::getpwnam("postgres");
            [[maybe_unused]] int ignored =
                ::chown(qPrintable(m_dir->path() + QStringLiteral("/socket")), user->pw_uid, user->pw_gid);
        }
        m_port = freeLoopbackPort();
        m_initialised = true;
    }
    const QStringList command = commandAs(
        QStringLiteral("postgres"),
        {QStringLiteral("-D"), m_dir->path() + QStringLiteral("/data"), QStringLiteral("-p"),
         QString::number(m_port), QStringLiteral("-k"), m_dir->path() + QStringLiteral("/socket"),
         QStringLiteral("-c"), QStringLiteral("listen_addresses=127.0.0.1"), QStringLiteral("-c"),
         QStringLiteral("max_connections=50"), QStringLiteral("-c"), QStringLiteral("shared_buffers=32MB")});
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::MergedChannels);
    m_server->start(command.first(), command.mid(1));
    if (!m_server->waitForStarted(10000)) {
        *error = QStringLiteral("postgres did not start");
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        QProcess ready;
        ready.start(m_bin + QStringLiteral("/pg_isready"),
                    {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                     QString::number(m_port), QStringLiteral("-q")});
        if (ready.waitForFinished(5000) && ready.exitCode() == 0)
            return true;
        if (m_server->state() == QProcess::NotRunning)
            break;
        QThread::msleep(100);
    }
    *error = QStringLiteral("postgres did not become ready: ") + QString::fromLocal8Bit(m_server->readAll());
    return false;
}

void TestPostgres::stop()
{
    if (!m_server || m_server->state() == QProcess::NotRunning)
        return;
    // SIGINT is PostgreSQL's fast shutdown.
    ::kill(pid_t(m_server->processId()), SIGINT);
    if (!m_server->waitForFinished(30000))
        m_server->kill();
    m_server->waitForFinished(5000);
}

bool TestPostgres::createDatabase(const QString &name, QString *error)
{
    return run(QStringLiteral("createdb"),
               {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
                QStringLiteral("-U"), QStringLiteral("tovrika"), name},
               error);
}

QString TestPostgres::url(const QString &database) const
{
    return QStringLiteral("postgresql://tovrika@127.0.0.1:%1/%2").arg(m_port).arg(database);
}

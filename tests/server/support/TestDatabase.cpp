#include "server/support/TestDatabase.h"

#include "server/support/TestPostgres.h"

#include "server/DatabaseConfig.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

TestDatabase::TestDatabase() : m_dir(std::make_unique<QTemporaryDir>()) {}

TestDatabase::~TestDatabase() = default;

bool TestDatabase::isPostgres()
{
    return qEnvironmentVariable("TOVRIKA_TEST_DATABASE") == QLatin1String("postgresql");
}

qint64 TestDatabase::loggedEntries(const QString &url)
{
    qint64 count = -1;
    {
        const DatabaseConfig config = parseDatabaseUrl(url).config;
        QSqlDatabase db = QSqlDatabase::addDatabase(config.driverName(), QStringLiteral("count"));
        config.applyTo(db);
        QSqlQuery query(db);
        if (db.open() && query.exec(QStringLiteral("SELECT COUNT(*) FROM entry_log")) && query.next())
            count = query.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return count;
}

QString TestDatabase::freshUrl(QString *error)
{
    const QString name = QStringLiteral("ranking%1").arg(++m_count);
    if (!isPostgres())
        return QStringLiteral("sqlite:") + m_dir->filePath(name + QStringLiteral(".sqlite"));
    if (!m_postgres) {
        m_postgres = std::make_unique<TestPostgres>();
        if (!m_postgres->start(error)) {
            m_postgres.reset();
            return QString();
        }
    }
    if (!m_postgres->createDatabase(name, error))
        return QString();
    return m_postgres->url(name);
}

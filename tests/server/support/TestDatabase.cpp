#include "server/support/TestDatabase.h"

#include "server/support/TestPostgres.h"

#include "server/support/DirectConnection.h"

#include <QTemporaryDir>

TestDatabase::TestDatabase() : m_dir(std::make_unique<QTemporaryDir>()) {}

TestDatabase::~TestDatabase() = default;

bool TestDatabase::isPostgres()
{
    return qEnvironmentVariable("TOVRIKA_TEST_DATABASE") == QLatin1String("postgresql");
}

qint64 TestDatabase::loggedEntries(const QString &url)
{
    // The log also holds the operator's acts; only the players' entries count here.
    return DirectConnection(url).number(QStringLiteral("SELECT COUNT(*) FROM entry_log WHERE kind = 0"));
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

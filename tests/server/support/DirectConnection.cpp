#include "server/support/DirectConnection.h"

#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

DirectConnection::DirectConnection(const QString &databaseUrl) : m_config(parseDatabaseUrl(databaseUrl).config)
{
    static std::atomic<int> count{0};
    m_name = QStringLiteral("direct%1").arg(++count);
    m_db = QSqlDatabase::addDatabase(m_config.driverName(), m_name);
    m_config.applyTo(m_db);
    if (!m_db.open())
        m_error = m_db.lastError().text();
}

DirectConnection::~DirectConnection()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool DirectConnection::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(m_db);
    bool ok = true;
    if (values.isEmpty()) {
        // Unprepared: PostgreSQL prepares no LOCK, BEGIN or SET.
        ok = query.exec(sql);
    } else {
        ok = query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = ok && query.exec();
    }
    if (!ok)
        m_error = query.lastError().text();
    return ok;
}

QStringList DirectConnection::column(const QString &sql)
{
    QStringList values;
    QSqlQuery query(m_db);
    if (!query.exec(sql)) {
        m_error = query.lastError().text();
        return values;
    }
    while (query.next())
        values << query.value(0).toString();
    return values;
}

qint64 DirectConnection::number(const QString &sql)
{
    QSqlQuery query(m_db);
    if (!query.exec(sql) || !query.next()) {
        m_error = query.lastError().text();
        return -1;
    }
    return query.value(0).toLongLong();
}

bool DirectConnection::holdEntryLogWriteLock()
{
    if (m_config.kind == DatabaseConfig::Kind::Sqlite)
        return exec(QStringLiteral("BEGIN IMMEDIATE"));
    return exec(QStringLiteral("BEGIN")) && exec(QStringLiteral("LOCK TABLE entry_log IN EXCLUSIVE MODE"));
}

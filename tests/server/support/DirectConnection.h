#pragma once

#include "server/DatabaseConfig.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>

// A connection of the test's own to a server's database, as an operator's
// tool would open it: for reading what was stored, editing by hand and
// holding locks. Closed and removed with the object; queries made on db()
// must end before it.
class DirectConnection
{
public:
    explicit DirectConnection(const QString &databaseUrl);
    ~DirectConnection();
    DirectConnection(const DirectConnection &) = delete;
    DirectConnection &operator=(const DirectConnection &) = delete;

    bool isOpen() const { return m_db.isOpen(); }
    QSqlDatabase &db() { return m_db; }
    const DatabaseConfig &config() const { return m_config; }
    // Runs a statement with its values bound in order (without values, as
    // plain text, for the statements a database does not prepare); false, with the
    // database's message in lastError(), when it fails.
    bool exec(const QString &sql, const QVariantList &values = {});
    // The first column of every row; empty when it cannot be read.
    QStringList column(const QString &sql);
    // The first column of the first row as a number; -1 when it cannot be read.
    qint64 number(const QString &sql);
    QString lastError() const { return m_error; }

    // Opens a transaction that holds the lock every entry's write needs, as
    // another program on the database could: SQLite's write lock (BEGIN
    // IMMEDIATE), on PostgreSQL the entry log locked against writers while
    // readers still read. Held until rollback() or the end of the object.
    bool holdEntryLogWriteLock();
    bool rollback() { return exec(QStringLiteral("ROLLBACK")); }

private:
    DatabaseConfig m_config;
    QString m_name;
    QSqlDatabase m_db;
    QString m_error;
};

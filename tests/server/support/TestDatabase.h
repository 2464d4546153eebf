#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;
class TestPostgres;

// The database that the server tests run against: an SQLite file in a
// temporary folder, or, with TOVRIKA_TEST_DATABASE=postgresql, a database
// on a PostgreSQL server that the test process starts for itself.
class TestDatabase
{
public:
    TestDatabase();
    ~TestDatabase();

    static bool isPostgres();
    // The players' entries in entry_log of the database of url, read on a connection of
    // the test's own; -1 when it cannot be read.
    static qint64 loggedEntries(const QString &url);
    // A new, empty database for each call; its URL for --database.
    QString freshUrl(QString *error);
    // The PostgreSQL server, for the tests that stop and restart it.
    TestPostgres *postgres() const { return m_postgres.get(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestPostgres> m_postgres;
    int m_count = 0;
};

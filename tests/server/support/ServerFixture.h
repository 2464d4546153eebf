#pragma once

#include "server/DatabaseConfig.h"
#include "server/support/ServerProcess.h"
#include "server/support/TestDatabase.h"

#include <QStringList>

#include <memory>

class TestPostgres;

// What every test of the running server sets up: a new, empty database for
// each test function (SQLite, or PostgreSQL with
// TOVRIKA_TEST_DATABASE=postgresql), its URL, and the server on it. Call
// init() from the test's init() and cleanup() from its cleanup().
class ServerFixture
{
public:
    // A fresh database and a server object not yet started; false with the
    // reason when the database cannot be made.
    bool init(QString *error);
    // Kills the servers that still run.
    void cleanup();

    const QString &url() const { return m_url; }
    // For the tests that place the database themselves (a mounted disk).
    void setUrl(const QString &url) { m_url = url; }
    DatabaseConfig config() const { return parseDatabaseUrl(m_url).config; }
    static bool isPostgres() { return TestDatabase::isPostgres(); }
    // The PostgreSQL server, for the tests that stop and restart it.
    TestPostgres *postgres() const { return m_databases.postgres(); }
    TestDatabase &databases() { return m_databases; }

    // The server of the test, made by init().
    ServerProcess &server() { return *m_server; }
    // Starts a server on url() with extra options after --listen and
    // --database; false, with the reason as a warning, when it does not serve.
    bool start(const QStringList &extra = {}) { return start(*m_server, extra); }
    bool start(ServerProcess &server, const QStringList &extra = {});

    // The rows of entry_log, read on a connection of the test's own.
    qint64 loggedEntries() const { return TestDatabase::loggedEntries(m_url); }

private:
    TestDatabase m_databases;
    QString m_url;
    std::unique_ptr<ServerProcess> m_server;
};

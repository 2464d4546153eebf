#pragma once

#include <QProcess>
#include <QString>

#include <memory>

class QTemporaryDir;

// A PostgreSQL server of the test's own, from Debian's packages: initdb in a
// temporary folder, a loopback port and a socket folder of its own, trust
// authentication for the user "tovrika". Run as the unprivileged user
// "postgres" when the tests run as root (initdb refuses root).
class TestPostgres
{
public:
    TestPostgres();
    ~TestPostgres();

    // initdb (once) and start; false with a message when it cannot.
    bool start(QString *error);
    // A fast shutdown; start() starts it again on the same data and port.
    void stop();
    bool createDatabase(const QString &name, QString *error);
    int port() const { return m_port; }
    // The postmaster's process, for tracing it.
    qint64 pid() const { return m_server ? m_server->processId() : 0; }
    QString url(const QString &database) const;

private:
    QStringList commandAs(const QString &program, const QStringList &arguments) const;
    bool run(const QString &program, const QStringList &arguments, QString *error) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_initialised = false;
    std::unique_ptr<QProcess> m_server;
};

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>

#include <memory>

// The built tovrika-ranking, started on a free loopback port, and a plain
// HTTP client that sends exactly the bytes a test gives it.
class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess();

    bool start(const QString &databaseUrl, const QStringList &extraArguments, QString *error);
    // For the next start(): a program that runs the server (such as
    // "strace -f -o FILE"), and variables added to its environment.
    void setCommandPrefix(const QStringList &prefix) { m_prefix = prefix; }
    void addEnvironment(const QString &name, const QString &value) { m_environment.insert(name, value); }
    quint16 port() const { return m_port; }
    qint64 pid() const;
    bool isRunning() const;
    void kill9();
    // Sends a signal and goes on at once.
    void signal(int number);
    // SIGTERM; the exit code, or -1 when it did not end by itself.
    int terminate();
    // The exit code once it has ended by itself; -1 after a signal or when
    // it still runs after a few seconds.
    int exitCode();
    QByteArray standardOutput();
    QByteArray standardError();

    struct Reply
    {
        int status = 0;
        QByteArray head;
        QByteArray body;
        // The server closed the connection after the reply.
        bool closed = false;
        // Everything that came back, for pipelined answers.
        QByteArray raw;
    };
    Reply get(const QByteArray &target, const QByteArray &method = QByteArrayLiteral("GET"));
    // Sends raw and reads what comes back until the server closes the
    // connection or timeoutMs pass.
    Reply exchange(const QByteArray &raw, int timeoutMs = 5000,
                   const QHostAddress &from = QHostAddress());

    // The entries on the all-time board of a mode, from the JSON boards; -1 without an answer.
    int total(int mode = 0);

    static Reply parse(const QByteArray &response);
    static QString executable();

private:
    std::unique_ptr<QProcess> m_process;
    QStringList m_prefix;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QByteArray m_output;
    QByteArray m_error;
    quint16 m_port = 0;
};

// The entry target for a score, a name and an identifier.
QByteArray entryTarget(int score, const QByteArray &name, const QByteArray &userId, int mode = 0,
                       const QByteArray &version = QByteArrayLiteral("2"));

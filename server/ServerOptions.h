#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

// The ranking server's command line.
struct ServerOptions
{
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8642;
    // A database URL as DatabaseConfig reads it; empty means the default file.
    QString database;
    int top = 100;
    QTimeZone zone = QTimeZone::systemTimeZone();
    // Entries a minute from one address or one identifier; 0 lifts the limit.
    int rate = 10;
    // Open connections at most; more are refused at once.
    int maxConnections = 256;
    // Open connections from one address at most (not counting trusted proxies).
    int maxPerAddress = 16;
    // Seconds a connection may stay silent, or take to send one request head.
    int idleSeconds = 10;
    // Reverse proxies whose X-Forwarded-For names the client instead.
    QList<QHostAddress> trustedProxies;
    // Where /metrics is served, apart from the public address; off when not set.
    bool metrics = false;
    QHostAddress metricsAddress = QHostAddress::LocalHost;
    quint16 metricsPort = 0;
    // Entries that arrive while a commit is on its way share the next one.
    bool groupCommit = true;
    // Seconds from an entry's arrival within which it must be committed;
    // later it is answered with an error and not stored. Reads of the
    // boards are cut off after as long.
    int entryDeadlineSeconds = 5;
    // The snapshot of the boards that a start reads and the server keeps:
    // empty for the default, "off" for none.
    QString snapshot;
    // Seconds between two snapshots while the log moves on.
    int snapshotSeconds = 300;
};

struct ParsedOptions
{
    enum class Outcome { Run, Exit, Error };
    Outcome outcome = Outcome::Error;
    ServerOptions options;
    // The help or version text for Exit, the one-line error for Error.
    QString text;
};

// Reads arguments[1..]; never exits, so tests can call it.
ParsedOptions parseServerOptions(const QStringList &arguments);

// The default database file: $XDG_DATA_HOME/tovrika-ranking/ranking.sqlite.
QString defaultDatabasePath();

// The snapshot file of --snapshot: by default beside an SQLite database
// (its name and ".boards"), none for PostgreSQL; empty for none.
QString snapshotFile(const QString &option, const struct DatabaseConfig &database);

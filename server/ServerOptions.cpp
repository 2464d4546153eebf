#include "server/ServerOptions.h"

#include "server/DatabaseConfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace {

ParsedOptions failure(const QString &message)
{
    ParsedOptions parsed;
    parsed.outcome = ParsedOptions::Outcome::Error;
    parsed.text = message;
    return parsed;
}

bool readCount(const QString &text, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < minimum || number > maximum)
        return false;
    *value = number;
    return true;
}

bool readEndpoint(const QString &value, QHostAddress *address, quint16 *port)
{
    const qsizetype colon = value.lastIndexOf(u':');
    QString host = value.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    int number = 0;
    if (colon < 0 || !address->setAddress(host) || !readCount(value.mid(colon + 1), 0, 65535, &number))
        return false;
    *port = quint16(number);
    return true;
}

} // namespace

QString defaultDatabasePath()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/tovrika-ranking/ranking.sqlite");
}

QString snapshotFile(const QString &option, const DatabaseConfig &database)
{
    if (option == QLatin1String("off"))
        return QString();
    if (!option.isEmpty())
        return option;
    return database.kind == DatabaseConfig::Kind::Sqlite ? database.sqlitePath + QStringLiteral(".boards") : QString();
}

ParsedOptions parseServerOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tovrika's ranking server: takes the game's ranking entries and serves the "
                       "ranking page and the home page.\n"
                       "\"tovrika-ranking admin --help\" lists the operator's commands."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port to listen on (default 127.0.0.1:8642)."),
                                    QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption metrics(
        QStringLiteral("metrics-listen"),
        QStringLiteral("Address and port for Prometheus's /metrics, never the public one (default: off)."),
        QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("sqlite:PATH (default sqlite:%1) or postgresql://user@host:port/name. Keep the "
                       "password off the command line: libpq reads it from the file named by PGPASSFILE "
                       "(default ~/.pgpass) or from PGPASSWORD.")
            .arg(defaultDatabasePath()),
        QStringLiteral("URL"));
    const QCommandLineOption top(QStringLiteral("top"),
                                 QStringLiteral("Rows of each board (default 100)."), QStringLiteral("N"));
    const QCommandLineOption timezone(
        QStringLiteral("timezone"),
        QStringLiteral("Zone in which a day and a week begin, e.g. Asia/Tokyo (default the local zone)."),
        QStringLiteral("ZONE"));
    const QCommandLineOption rate(
        QStringLiteral("rate"),
        QStringLiteral("Entries a minute accepted from one address or one ID (default 10; 0: no limit)."),
        QStringLiteral("N"));
    const QCommandLineOption connections(QStringLiteral("max-connections"),
                                         QStringLiteral("Open connections at most (default 256)."),
                                         QStringLiteral("N"));
    const QCommandLineOption perAddress(QStringLiteral("max-per-address"),
                                        QStringLiteral("Open connections from one address at most, trusted "
                                                       "proxies excepted (default 16)."),
                                        QStringLiteral("N"));
    const QCommandLineOption idle(QStringLiteral("idle-timeout"),
                                  QStringLiteral("Seconds a connection may stay silent or take to send a "
                                                 "request head (default 10)."),
                                  QStringLiteral("SECONDS"));
    const QCommandLineOption commitEach(
        QStringLiteral("commit-each"),
        QStringLiteral("One transaction per entry instead of one for the entries that arrive together "
                       "(slower; for measurements)."));
    const QCommandLineOption proxy(QStringLiteral("trusted-proxy"),
                                   QStringLiteral("A reverse proxy's address: for its connections X-Forwarded-For "
                                                  "is read from the right, past trusted proxies, to the client "
                                                  "(may be repeated)."),
                                   QStringLiteral("ADDRESS"));
    const QCommandLineOption deadline(
        QStringLiteral("entry-deadline"),
        QStringLiteral("Seconds within which an entry must be stored, counted from its arrival; later it is "
                       "answered ERROR and not stored (default 5)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption snapshot(
        QStringLiteral("snapshot"),
        QStringLiteral("File that keeps a snapshot of the boards, so that a start folds only the log after it "
                       "(default: beside an SQLite database, named after it with \".boards\"; none for "
                       "PostgreSQL); \"off\" for none."),
        QStringLiteral("FILE"));
    const QCommandLineOption snapshotInterval(
        QStringLiteral("snapshot-interval"),
        QStringLiteral("Seconds between two snapshots while entries come (default 300); one is also kept at "
                       "a clean stop."),
        QStringLiteral("SECONDS"));
    parser.addOptions({help, version, listen, metrics, database, top, timezone, rate, connections, perAddress, idle,
                       commitEach, proxy, deadline, snapshot, snapshotInterval});

    if (!parser.parse(arguments))
        return failure(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));

    ParsedOptions parsed;
    if (parser.isSet(help)) {
        parsed.outcome = ParsedOptions::Outcome::Exit;
        parsed.text = parser.helpText();
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.outcome = ParsedOptions::Outcome::Exit;
        parsed.text = QStringLiteral("tovrika-ranking %1\n").arg(QCoreApplication::applicationVersion());
        return parsed;
    }

    ServerOptions &options = parsed.options;
    if (parser.isSet(listen) && !readEndpoint(parser.value(listen), &options.address, &options.port))
        return failure(
            QStringLiteral("--listen needs ADDRESS:PORT, such as 127.0.0.1:8642: %1").arg(parser.value(listen)));
    if (parser.isSet(metrics)) {
        options.metrics = true;
        if (!readEndpoint(parser.value(metrics), &options.metricsAddress, &options.metricsPort))
            return failure(QStringLiteral("--metrics-listen needs ADDRESS:PORT, such as 127.0.0.1:9642: %1")
                               .arg(parser.value(metrics)));
        // Strangers reach the public address; the metrics are the operator's.
        if (options.metricsPort != 0 && options.metricsPort == options.port)
            return failure(QStringLiteral("--metrics-listen must not be the public address's port"));
    }
    if (parser.isSet(database)) {
        options.database = parser.value(database);
        if (options.database.isEmpty())
            return failure(QStringLiteral("--database needs a URL"));
    }
    if (parser.isSet(top) && !readCount(parser.value(top), 1, 100000, &options.top))
        return failure(QStringLiteral("--top needs a number from 1 to 100000: %1").arg(parser.value(top)));
    if (parser.isSet(rate) && !readCount(parser.value(rate), 0, 1000000, &options.rate))
        return failure(QStringLiteral("--rate needs a number from 0 to 1000000: %1").arg(parser.value(rate)));
    if (parser.isSet(connections)
        && !readCount(parser.value(connections), 1, 100000, &options.maxConnections))
        return failure(QStringLiteral("--max-connections needs a number from 1 to 100000: %1")
                           .arg(parser.value(connections)));
    if (parser.isSet(perAddress) && !readCount(parser.value(perAddress), 1, 100000, &options.maxPerAddress))
        return failure(QStringLiteral("--max-per-address needs a number from 1 to 100000: %1")
                           .arg(parser.value(perAddress)));
    if (parser.isSet(idle) && !readCount(parser.value(idle), 1, 3600, &options.idleSeconds))
        return failure(QStringLiteral("--idle-timeout needs a number from 1 to 3600: %1").arg(parser.value(idle)));
    if (parser.isSet(deadline) && !readCount(parser.value(deadline), 1, 600, &options.entryDeadlineSeconds))
        return failure(
            QStringLiteral("--entry-deadline needs a number from 1 to 600: %1").arg(parser.value(deadline)));
    if (parser.isSet(snapshot)) {
        options.snapshot = parser.value(snapshot);
        if (options.snapshot.isEmpty())
            return failure(QStringLiteral("--snapshot needs a file, or off"));
    }
    if (parser.isSet(snapshotInterval)
        && !readCount(parser.value(snapshotInterval), 1, 86400, &options.snapshotSeconds))
        return failure(QStringLiteral("--snapshot-interval needs a number from 1 to 86400: %1")
                           .arg(parser.value(snapshotInterval)));
    if (parser.isSet(timezone)) {
        options.zone = QTimeZone(parser.value(timezone).toUtf8());
        if (!options.zone.isValid())
            return failure(QStringLiteral("--timezone: unknown zone %1").arg(parser.value(timezone)));
    }
    options.groupCommit = !parser.isSet(commitEach);
    for (const QString &value : parser.values(proxy)) {
        QHostAddress address;
        if (!address.setAddress(value))
            return failure(QStringLiteral("--trusted-proxy needs an address: %1").arg(value));
        options.trustedProxies.append(address);
    }
    parsed.outcome = ParsedOptions::Outcome::Run;
    return parsed;
}

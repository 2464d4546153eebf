#include "server/AdminMain.h"

#include "protocol/RankingProtocol.h"
#include "server/DatabaseConfig.h"
#include "server/RankingStore.h"
#include "server/ServerOptions.h"
#include "server/StoreExists.h"
#include "server/TextEscape.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QTimeZone>

#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr char Commands[] = R"(Commands:
  remove --id ID [--mode 0|1]  take the ID's rows off every board and period (of one mode)
  ban --id ID                  take the ID's rows off and answer its later entries CANNOT_RANK_IN
  unban --id ID                end a ban
  rebuild                      fold the entry log afresh and check that the boards are the same
  backup FILE                  a consistent copy of an SQLite database, also while servers run
  list --id ID                 the ID's entries and board rows)";

int usage(const QString &message)
{
    std::fprintf(stderr, "tovrika-ranking admin: %s (see tovrika-ranking admin --help)\n", qPrintable(message));
    return 2;
}

int failed(const QString &message)
{
    std::fprintf(stderr, "tovrika-ranking admin: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int runAdmin(const QStringList &arguments)
{
    // A backup and the database's -wal and -shm are for the owner alone.
    ::umask(077);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Operates the boards of tovrika-ranking's database.\n\n")
                                     + QLatin1String(Commands));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("The database, as for the server (default %1).")
                                          .arg(defaultDatabasePath()),
                                      QStringLiteral("URL"));
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("An installation's ID."), QStringLiteral("ID"));
    const QCommandLineOption mode(QStringLiteral("mode"), QStringLiteral("Only this mode (0 or 1)."),
                                  QStringLiteral("MODE"));
    parser.addOptions({help, database, id, mode});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("remove, ban, unban, rebuild, backup or list"));
    if (!parser.parse(QStringList{QStringLiteral("tovrika-ranking admin")} + arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    const bool takesId = command == QLatin1String("remove") || command == QLatin1String("ban")
                         || command == QLatin1String("unban") || command == QLatin1String("list");
    if (command.isEmpty())
        return usage(QStringLiteral("a command is needed"));
    if (!takesId && command != QLatin1String("rebuild") && command != QLatin1String("backup"))
        return usage(QStringLiteral("unknown command %1").arg(command));
    if (positional.size() != (command == QLatin1String("backup") ? 2 : 1))
        return usage(command == QLatin1String("backup") ? QStringLiteral("backup needs one FILE")
                                                        : QStringLiteral("unexpected argument %1").arg(positional.last()));
    if (parser.values(id).size() > 1)
        return usage(QStringLiteral("--id given more than once"));
    const QString userId = parser.value(id);
    if (takesId != parser.isSet(id) || (takesId && !RankingProtocol::isValidUserId(userId)))
        return usage(takesId ? QStringLiteral("%1 needs --id with a valid ID").arg(command)
                             : QStringLiteral("%1 takes no --id").arg(command));
    std::optional<int> onlyMode;
    if (parser.isSet(mode)) {
        if (command != QLatin1String("remove") || (parser.value(mode) != QLatin1String("0")
                                                   && parser.value(mode) != QLatin1String("1")))
            return usage(QStringLiteral("--mode goes with remove and is 0 or 1"));
        onlyMode = parser.value(mode).toInt();
    }
    const ParsedDatabase parsed =
        parseDatabaseUrl(parser.isSet(database) ? parser.value(database) : QStringLiteral("sqlite:") + defaultDatabasePath());
    if (!parsed.ok)
        return usage(parsed.error);

    DatabaseConfig config = parsed.config;
    // An operator's command may run long (a rebuild replays the whole log)
    // and may wait its turn behind a running server's commit.
    config.deadlineMs = 60000;
    // The boards' zone is the database's own.
    RankingStore store(config, 100, QTimeZone(), QStringLiteral("admin"));
    // The servers' snapshot spares the command most of the fold; it only reads it.
    store.setSnapshotFile(snapshotFile(QString(), config));
    QString error;
    if (!storeExists(config, &error) || !store.open(&error))
        return failed(error);
    if (command == QLatin1String("remove")) {
        int rows = 0;
        if (!store.removeId(userId, onlyMode, &rows))
            return failed(store.lastError());
        std::printf("removed %d board rows of %s; its entries stay in the log\n", rows,
                    qPrintable(userId));
    } else if (command == QLatin1String("ban") || command == QLatin1String("unban")) {
        const bool ban = command == QLatin1String("ban");
        if (!store.setBanned(userId, ban, QDateTime::currentMSecsSinceEpoch()))
            return failed(store.lastError());
        std::printf(ban ? "banned %s\n" : "unbanned %s\n", qPrintable(userId));
    } else if (command == QLatin1String("rebuild")) {
        qint64 replayed = 0;
        if (!store.rebuild(&replayed))
            return failed(store.lastError());
        std::printf("folded the log's %lld lines afresh: the boards are the same\n", static_cast<long long>(replayed));
    } else if (command == QLatin1String("backup")) {
        if (!store.backup(positional.at(1)))
            return failed(store.lastError());
        std::printf("backed up to %s\n", qPrintable(positional.at(1)));
    } else {
        const std::optional<QStringList> lines = store.describeId(userId);
        if (!lines)
            return failed(store.lastError());
        // A name edited by hand must not drive the operator's terminal.
        for (const QString &line : *lines)
            std::printf("%s\n", qPrintable(escapeControls(line)));
    }
    return 0;
}

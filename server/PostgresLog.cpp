#include "server/PostgresLog.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cstring>
#include <libpq-fe.h>
#include <sys/socket.h>

namespace {

// The key of the advisory lock that numbers the lines in commit order.
constexpr qint64 LogLockKey = 0x746f76726b61; // "tovrka"

// Array literals, cast in the statement. Every element of a text array is
// quoted, with backslashes and double quotes escaped, so that no name can
// end or split its element.
QString textArray(const QStringList &values)
{
    QString literal;
    literal.reserve(2 + values.size() * 24);
    literal += u'{';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            literal += u',';
        literal += u'"';
        for (QChar c : values[i]) {
            if (c == u'"' || c == u'\\')
                literal += u'\\';
            literal += c;
        }
        literal += u'"';
    }
    literal += u'}';
    return literal;
}

QString numberArray(const QList<qint64> &values)
{
    QString literal;
    literal.reserve(2 + values.size() * 14);
    literal += u'{';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            literal += u',';
        literal += QString::number(values[i]);
    }
    literal += u'}';
    return literal;
}

} // namespace

bool PostgresLog::connect(QString *error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), m_connectionName);
    if (!db.isValid())
        return *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(m_config.driverName()), false;
    m_config.applyTo(db);
    // The name tells an operator's pg_stat_activity which connection is which.
    db.setConnectOptions(QStringLiteral("connect_timeout=3;application_name=tovrika-ranking-%1")
                             .arg(m_writer ? QLatin1String("entries") : QLatin1String("pages")));
    if (!db.open())
        return *error = QStringLiteral("cannot open %1: %2").arg(m_config.displayName(), db.lastError().text()), false;
    // The server cancels what runs or waits for a lock past the deadline
    // itself; the watchdog is for a server that cannot. Notices would go to
    // standard error at each connection. Statements are kept prepared, and a
    // plan made for any position would read the whole log for the lines
    // after one: each run is planned for its own values.
    const QString deadline = QString::number(m_config.deadlineMs);
    const std::pair<const char *, QString> settings[] = {{"statement_timeout", deadline},
                                                         {"lock_timeout", deadline},
                                                         {"client_min_messages", "warning"},
                                                         {"plan_cache_mode", "force_custom_plan"}};
    QSqlQuery set(db);
    for (const auto &[name, value] : settings) {
        if (!set.exec(QStringLiteral("SET %1 = %2").arg(QLatin1String(name), value))) {
            *error = QStringLiteral("cannot set up the session on %1: %2")
                         .arg(m_config.displayName(), set.lastError().text());
            return false;
        }
    }
    return true;
}

bool PostgresLog::lockSchema(QString *error)
{
    // Servers started at once on one database migrate one after the other:
    // the later one finds the schema made and leaves it.
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('tovrika-ranking schema'))")))
        return *error = QStringLiteral("cannot lock the schema: ") + query.lastError().text(), false;
    return true;
}

QString PostgresLog::tableNamesSql() const
{
    return QStringLiteral("SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()");
}

QStringList PostgresLog::dropOlderSql() const
{
    return {QStringLiteral("DROP FUNCTION IF EXISTS tovrika_submit(BIGINT[], TEXT[], TEXT[], TEXT[], INTEGER[], "
                           "INTEGER[], BIGINT[], BIGINT[], INTEGER, BIGINT)"),
            QStringLiteral("DROP TABLE IF EXISTS best"), QStringLiteral("DROP TABLE IF EXISTS score_count"),
            QStringLiteral("DROP TABLE IF EXISTS banned")};
}

bool PostgresLog::beginAppend(QString *error)
{
    // One round trip for both. The lock is held to the commit: the next
    // transaction reads this one's lines first.
    QSqlQuery begin(database());
    if (!begin.exec(QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(%1)").arg(LogLockKey)))
        return *error = QStringLiteral("cannot lock the log: ") + begin.lastError().text(), false;
    return true;
}

bool PostgresLog::append(const QList<LogRow> &rows, const QList<EntryAnswer> &answers, bool rowsChanged,
                         QString *error)
{
    QList<qint64> ids, kinds, atMs, modes, scores;
    QStringList clients, userIds, names, words;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const LogRow &row = rows[i];
        ids << row.id;
        kinds << int(row.kind);
        atMs << row.atMs;
        modes << row.mode;
        scores << row.score;
        clients << row.client;
        userIds << row.userId;
        names << row.name;
        words << answerText(row, answers.value(i));
    }
    // One statement and one round trip for the whole batch and its notice.
    QSqlQuery *insert = kept(QStringLiteral(
        "WITH written AS (INSERT INTO entry_log (id, kind, at_ms, client, uid, name, mode, score, answer) "
        "SELECT * FROM unnest(?::BIGINT[], ?::INTEGER[], ?::BIGINT[], ?::TEXT[], ?::TEXT[], ?::TEXT[], "
        "?::INTEGER[], ?::INTEGER[], ?::TEXT[])) SELECT pg_notify(?, ?)"), error);
    if (!insert)
        return *error = QStringLiteral("cannot log: ") + *error, false;
    const QString values[] = {numberArray(ids),       numberArray(kinds), numberArray(atMs),
                              textArray(clients),     textArray(userIds), textArray(names),
                              numberArray(modes),     numberArray(scores), textArray(words),
                              QLatin1String(Channel), QLatin1String(rowsChanged ? RowsChanged : TotalsChanged)};
    for (int column = 0; column < int(std::size(values)); ++column)
        insert->bindValue(column, values[column]);
    const bool done = insert->exec();
    if (!done)
        *error = QStringLiteral("cannot log: ") + insert->lastError().text();
    insert->finish();
    return done;
}

std::function<void()> PostgresLog::cutter(QDeadlineTimer)
{
    PGconn *connection = nativeHandle<PGconn>({"PGconn*", "pg_conn*"});
    if (!connection)
        return {};
    // Ends a read or write that waits on the socket; the connection is then
    // closed by its own thread. A backend that resumes later finds no
    // client, and a transaction without its COMMIT is rolled back.
    const int socket = PQsocket(connection);
    return [socket] { ::shutdown(socket, SHUT_RDWR); };
}

bool PostgresLog::listen(QString *error)
{
    QSqlQuery listen(database());
    if (!listen.exec(QStringLiteral("LISTEN ") + QLatin1String(Channel)))
        return *error = QStringLiteral("cannot listen for the log: ") + listen.lastError().text(), false;
    // A server that shuts down says so on this idle connection; libpq would
    // print it, and the outage is told once by the store already.
    if (PGconn *connection = nativeHandle<PGconn>({"PGconn*", "pg_conn*"}))
        PQsetNoticeProcessor(connection, [](void *, const char *) {}, nullptr);
    return true;
}

bool PostgresLog::othersAppended(bool *failed, QString *error)
{
    *failed = false;
    PGconn *connection = nativeHandle<PGconn>({"PGconn*", "pg_conn*"});
    if (!connection)
        return false;
    // Reads what the socket holds without waiting; notifications that came
    // with the answer to a query are queued in libpq already.
    if (PQconsumeInput(connection) == 0) {
        *error = QString::fromUtf8(PQerrorMessage(connection)).simplified();
        *failed = true;
        return false;
    }
    bool any = false;
    while (PGnotify *notice = PQnotifies(connection)) {
        any = true;
        PQfreemem(notice);
    }
    return any;
}

bool PostgresLog::backup(const QString &, QString *error)
{
    *error = QStringLiteral("backup copies SQLite files; for PostgreSQL use pg_dump (see tovrika-ranking(1))");
    return false;
}

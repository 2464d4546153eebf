#include "server/RankingStore.h"

#include "server/PostgresBatch.h"
#include "server/SqliteShm.h"
#include "server/Watchdog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

bool isPostgres(const DatabaseConfig &config) { return config.kind == DatabaseConfig::Kind::Postgres; }

// The driver's own handle of an open connection, or nullptr. Qt names the
// type as the driver declared it or by the structure behind the typedef.
template <typename Handle>
Handle *nativeHandle(const QSqlDatabase &db, std::initializer_list<const char *> typeNames)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid())
        return nullptr;
    for (const char *typeName : typeNames) {
        if (qstrcmp(handle.typeName(), typeName) == 0)
            return *static_cast<Handle *const *>(handle.data());
    }
    return nullptr;
}

// Failures that another server's transaction caused; the batch is tried again.
bool isRetryable(const QString &sqlState)
{
    return sqlState == QLatin1String("23505") || sqlState == QLatin1String("40001")
           || sqlState == QLatin1String("40P01");
}

// The first rows of each board, mode by mode, board by board; its
// parameters are each board's period and the number of rows, in turn.
QString allFirstRowsSql()
{
    QStringList parts;
    for (int mode = 0; mode < RankingProtocol::ModeCount; ++mode) {
        for (Board board : AllBoards) {
            parts.append(QStringLiteral("SELECT * FROM (SELECT %1 AS slot, name, uid, score, reached_ms, seq FROM best "
                                        "WHERE mode = %2 AND board = %3 AND period = ? "
                                        "ORDER BY score DESC, reached_ms, seq LIMIT ?) AS b%1")
                             .arg(boardSlot(mode, board))
                             .arg(mode)
                             .arg(int(board)));
        }
    }
    return parts.join(QLatin1String(" UNION ALL "));
}

} // namespace

struct RankingStore::Statements
{
    explicit Statements(const QSqlDatabase &db)
        : logInsert(db), logLast(db), bestSelect(db), bestInsert(db), bestUpdate(db), countAdd(db),
          countHigher(db), countEqualBefore(db), countFirst(db), countTotal(db), topRows(db), visitorRow(db),
          visitorRows(db), dataVersion(db), bannedSelect(db), allFirstRows(db), batchSubmit(db)
    {
    }
    QSqlQuery logInsert, logLast, bestSelect, bestInsert, bestUpdate, countAdd;
    QSqlQuery countHigher, countEqualBefore, countFirst, countTotal, topRows, visitorRow, visitorRows, dataVersion;
    QSqlQuery bannedSelect;
    // PostgreSQL only: every board's first rows; the writer's whole batch in one call.
    QSqlQuery allFirstRows, batchSubmit;
};

RankingStore::RankingStore(DatabaseConfig config, int top, QTimeZone zone, QString connectionName, Role role)
    : m_config(std::move(config)), m_top(top), m_role(role), m_zone(std::move(zone)),
      m_connectionName(std::move(connectionName)), m_watchdog(std::make_unique<Watchdog>())
{
}

RankingStore::~RankingStore() { close(); }

void RankingStore::close()
{
    // The watchdog must never cut a connection that is gone: the socket
    // number may be another connection's by then.
    const Watchdog::Cut cut = m_watchdog->disarm();
    if (cut != Watchdog::Cut::None)
        m_cutBeforeClose = cut;
    m_cache.clear();
    m_dataVersion = -1;
    // The connection goes before its statements, and no handle of it is
    // left here: the driver closes it, and the statements then find no
    // driver to free themselves on, which on a dropped connection would
    // only warn once for each.
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
    m_statements.reset();
}

void RankingStore::rollback(QSqlDatabase &db)
{
    // A connection already lost has nothing to roll back, and Qt would warn.
    if (db.isOpen())
        db.rollback();
}

bool RankingStore::fail(const QString &what, const QSqlQuery &query)
{
    m_lastError = what + QStringLiteral(": ") + query.lastError().text();
    m_lastSqlState = query.lastError().nativeErrorCode();
    return false;
}

bool RankingStore::open(QString *error)
{
    close();
    m_lastError.clear();
    const bool ok = ensureOpen();
    if (!ok && error)
        *error = m_lastError;
    return ok;
}

bool RankingStore::ensureOpen()
{
    if (m_statements)
        return true;
    if (!m_filesLost.isEmpty()) {
        m_lastError = m_filesLost;
        return false;
    }
    close();
    // Closed only here, once connect()'s handles of the connection are gone.
    if (connect())
        return true;
    close();
    return false;
}

bool RankingStore::connect()
{
    if (!isPostgres(m_config) && !installAllocatingShmLayer()) {
        m_lastError = QStringLiteral("SQLite refused the layer that allocates its shared-memory file");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), m_connectionName);
    if (!db.isValid()) {
        m_lastError = QStringLiteral("the Qt SQL driver %1 is not installed").arg(m_config.driverName());
        return false;
    }
    m_config.applyTo(db);
    if (isPostgres(m_config)) {
        // The name tells an operator's pg_stat_activity which connection is which.
        db.setConnectOptions(QStringLiteral("connect_timeout=3;application_name=tovrika-ranking-%1")
                                 .arg(m_role == Role::Writer ? QLatin1String("entries") : QLatin1String("pages")));
    } else {
        const QFileInfo file(m_config.sqlitePath);
        if (!QDir().mkpath(file.absolutePath())) {
            m_lastError = QStringLiteral("cannot create the folder %1").arg(file.absolutePath());
            return false;
        }
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_config.deadlineMs));
    }
    if (!db.open()) {
        m_lastError = QStringLiteral("cannot open %1: %2").arg(m_config.displayName(), db.lastError().text());
        return false;
    }
    if (isPostgres(m_config)) {
        // The server cancels what runs or waits for a lock past the deadline
        // itself; the watchdog is for a server that cannot.
        // Notices, such as of the schema that is there already, would go to
        // standard error at each connection.
        const QString deadline = QString::number(m_config.deadlineMs);
        QList<std::pair<const char *, QString>> settings{
            {"statement_timeout", deadline}, {"lock_timeout", deadline}, {"client_min_messages", "warning"}};
        // Every statement of a reader reads by key. A mode that had no rows
        // when autovacuum last analysed the table would otherwise be read
        // by its key index and sorted: 20 to 50 ms for the page's first rows
        // after some ten thousand new entries, where the order index gives
        // them in under a millisecond.
        if (m_role == Role::Reader) {
            for (const char *plan : {"enable_seqscan", "enable_bitmapscan", "enable_sort"})
                settings.append({plan, QStringLiteral("off")});
        }
        QSqlQuery set(db);
        for (const auto &[name, value] : std::as_const(settings)) {
            if (!set.exec(QStringLiteral("SET %1 = %2").arg(QLatin1String(name), value)))
                return fail(QStringLiteral("cannot set up the session on %1").arg(m_config.displayName()), set);
        }
    } else {
        sqlite3 *handle = nativeHandle<sqlite3>(db, {"sqlite3*"});
        if (m_role == Role::Writer && handle && sqlite3_db_readonly(handle, "main") == 1) {
            m_lastError = QStringLiteral("%1 is read-only: the server must write to it and create %1-wal and "
                                         "%1-shm beside it")
                              .arg(m_config.sqlitePath);
            return false;
        }
        // Durable commits: a committed entry survives a crash and a power cut.
        QSqlQuery pragma(db);
        if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next()
            || pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0
            || !pragma.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
            m_lastError = QStringLiteral("cannot make %1 durable (write-ahead log): %2")
                              .arg(m_config.displayName(), pragma.lastError().text());
            return false;
        }
        // The pages that entries and pages touch stay in memory well past
        // SQLite's default of 2 MB, which a board's index outgrows soon.
        pragma.exec(QStringLiteral("PRAGMA cache_size=-32768"));
        // The log is copied into the database every 16 000 pages (about
        // 64 MB) rather than every 1 000: a board's pages are changed again
        // and again, and each copy writes a page once however often it
        // changed. Entries went from about 7 400 to 11 000 a second.
        pragma.exec(QStringLiteral("PRAGMA wal_autocheckpoint=16000"));
    }
    // Once per store: a connection opened again after an outage finds the
    // schema made, and a migration's statements may wait for a lock that an
    // operator holds, past every entry's deadline.
    if (m_role == Role::Writer && !m_schemaReady) {
        if (!migrate())
            return false;
        m_schemaReady = true;
    }
    rememberFiles();

    auto statements = std::make_unique<Statements>(db);
    const QString lock = isPostgres(m_config) ? QStringLiteral(" FOR UPDATE") : QString();
    const struct
    {
        QSqlQuery *query;
        QString sql;
    } prepared[] = {
        // SQLite's writer numbers the log lines itself (see runTransaction),
        // so that a line is written once, with its answer.
        {&statements->logInsert,
         QStringLiteral("INSERT INTO entry_log (id, at_ms, client, uid, name, mode, score, answer) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)")},
        {&statements->logLast, QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM entry_log")},
        {&statements->bestSelect,
         QStringLiteral("SELECT score FROM best WHERE mode = ? AND board = ? AND period = ? AND uid = ?")
             + lock},
        {&statements->bestInsert,
         QStringLiteral("INSERT INTO best (mode, board, period, uid, name, score, reached_ms, seq) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (mode, board, period, uid) DO NOTHING")},
        {&statements->bestUpdate,
         QStringLiteral("UPDATE best SET name = ?, score = ?, reached_ms = ?, seq = ? "
                        "WHERE mode = ? AND board = ? AND period = ? AND uid = ?")},
        {&statements->countAdd,
         QStringLiteral("INSERT INTO score_count (mode, board, period, score, n) VALUES (?, ?, ?, ?, ?) "
                        "ON CONFLICT (mode, board, period, score) DO UPDATE SET n = score_count.n + excluded.n")},
        {&statements->countHigher,
         QStringLiteral("SELECT COALESCE(SUM(n), 0) FROM score_count "
                        "WHERE mode = ? AND board = ? AND period = ? AND score > ?")},
        {&statements->countEqualBefore,
         QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM best WHERE mode = ? AND board = ? AND period = ? "
                        "AND score = ? AND (reached_ms < ? OR (reached_ms = ? AND seq < ?)) LIMIT ?) AS earlier")},
        {&statements->countFirst,
         QStringLiteral("SELECT score, n FROM score_count WHERE mode = ? AND board = ? AND period = ? AND n > 0 "
                        "ORDER BY score DESC LIMIT ?")},
        {&statements->countTotal,
         QStringLiteral("SELECT COALESCE(SUM(n), 0) FROM score_count WHERE mode = ? AND board = ? AND period = ?")},
        {&statements->topRows,
         QStringLiteral("SELECT name, uid, score, reached_ms FROM best WHERE mode = ? AND board = ? AND period = ? "
                        "ORDER BY score DESC, reached_ms, seq LIMIT ?")},
        {&statements->visitorRow,
         QStringLiteral("SELECT name, score, reached_ms, seq FROM best "
                        "WHERE mode = ? AND board = ? AND period = ? AND uid = ?")},
        // Each board's period, the visitor's row there, the rows above it
        // and the board's total.
        {&statements->visitorRows,
         QStringLiteral("WITH k (mode, board, period) AS (VALUES (0, 0, CAST(? AS BIGINT)), (0, 1, CAST(? AS BIGINT)), "
                        "(0, 2, CAST(0 AS BIGINT)), (1, 0, CAST(? AS BIGINT)), (1, 1, CAST(? AS BIGINT)), "
                        "(1, 2, CAST(0 AS BIGINT))), "
                        "v AS (SELECT k.mode, k.board, k.period, b.name, b.score, b.reached_ms FROM k "
                        "LEFT JOIN best b ON b.mode = k.mode AND b.board = k.board AND b.period = k.period "
                        "AND b.uid = ?) "
                        "SELECT v.mode, v.board, v.name, v.score, v.reached_ms, "
                        "(SELECT COALESCE(SUM(c.n), 0) FROM score_count c WHERE c.mode = v.mode "
                        "AND c.board = v.board AND c.period = v.period AND c.score > v.score), "
                        "(SELECT COALESCE(SUM(c.n), 0) FROM score_count c WHERE c.mode = v.mode "
                        "AND c.board = v.board AND c.period = v.period) FROM v")},
        {&statements->dataVersion,
         isPostgres(m_config) ? QStringLiteral("SELECT 0") : QStringLiteral("PRAGMA data_version")},
        {&statements->bannedSelect, QStringLiteral("SELECT 1 FROM banned WHERE uid = ?")},
    };
    for (const auto &statement : prepared) {
        if (!statement.query->prepare(statement.sql)) {
            return fail(QStringLiteral("cannot prepare a statement"), *statement.query);
        }
    }
    // PostgreSQL's first rows of every board at once: the page after a
    // change would otherwise wait for twelve answers while the writer keeps
    // the database busy. SQLite, in process, reads a board at a time.
    if (isPostgres(m_config) && !statements->allFirstRows.prepare(allFirstRowsSql()))
        return fail(QStringLiteral("cannot prepare a statement"), statements->allFirstRows);
    if (isPostgres(m_config) && m_role == Role::Writer) {
        if (!statements->batchSubmit.prepare(PostgresBatch::callStatement()))
            return fail(QStringLiteral("cannot prepare a statement"), statements->batchSubmit);
        if (!measureServerClock(db))
            return false;
    }
    m_statements = std::move(statements);
    if (isPostgres(m_config) && m_role == Role::Reader) {
        // Every server's commits that change boards notify this channel, so
        // that each server's kept pages follow the others' entries.
        QSqlQuery listen(db);
        if (!listen.exec(QStringLiteral("LISTEN ") + QLatin1String(PostgresBatch::Channel)))
            return fail(QStringLiteral("cannot listen for board changes"), listen);
        // A server that shuts down says so on this idle connection; libpq
        // would print it, and the outage is told once by the store already.
        if (PGconn *connection = nativeHandle<PGconn>(db, {"PGconn*", "pg_conn*"}))
            PQsetNoticeProcessor(connection, [](void *, const char *) {}, nullptr);
    }
    // Whatever was kept from before may have changed meanwhile.
    if (m_changeListener)
        m_changeListener(true);
    return true;
}

bool RankingStore::measureServerClock(const QSqlDatabase &db)
{
    // Taken as late as the answer came, the server's clock is read as ahead
    // by no more than it is: deadlines given in it come early, never late.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT (extract(epoch FROM clock_timestamp()) * 1000)::BIGINT"))
        || !query.next())
        return fail(QStringLiteral("cannot read the database server's clock"), query);
    m_serverClockAheadMs = query.value(0).toLongLong() - QDateTime::currentMSecsSinceEpoch();
    m_serverClockRead = QDeadlineTimer(ServerClockValidMs);
    return true;
}

bool RankingStore::migrate()
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    QSqlQuery query(db);
    const bool postgres = isPostgres(m_config);
    if (!db.transaction()) {
        m_lastError = QStringLiteral("cannot begin the schema transaction: ") + db.lastError().text();
        return false;
    }
    auto abandon = [&](const QString &what) {
        fail(what, query);
        db.rollback();
        return false;
    };
    // Servers started at once on one database migrate one after the other:
    // the later one finds the schema made and leaves it.
    if (postgres && !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('tovrika-ranking schema'))")))
        return abandon(QStringLiteral("cannot lock the schema"));
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")))
        return abandon(QStringLiteral("cannot create the schema"));
    if (!query.exec(QStringLiteral("SELECT version FROM schema_version")))
        return abandon(QStringLiteral("cannot read the schema version"));
    QList<int> versions;
    while (query.next())
        versions.append(query.value(0).toInt());
    query.finish();
    if (versions.size() > 1) {
        // Edited by hand or by two programs: which one holds is anyone's guess.
        db.rollback();
        m_lastError = QStringLiteral("the table schema_version holds %1 rows instead of one; "
                                     "leave only the version the tables really have")
                          .arg(versions.size());
        return false;
    }
    const int version = versions.isEmpty() ? 0 : versions.first();
    if (version > SchemaVersion) {
        db.rollback();
        m_lastError = QStringLiteral("the database has schema version %1, newer than this server's %2")
                          .arg(version)
                          .arg(SchemaVersion);
        return false;
    }
    if (version < 1) {
        const QStringList schema = {
            postgres ? QStringLiteral("CREATE TABLE entry_log (id BIGSERIAL PRIMARY KEY, at_ms BIGINT NOT NULL, "
                                      "client TEXT NOT NULL, uid TEXT NOT NULL, name TEXT NOT NULL, "
                                      "mode INTEGER NOT NULL, score INTEGER NOT NULL, answer TEXT NOT NULL)")
                     : QStringLiteral("CREATE TABLE entry_log (id INTEGER PRIMARY KEY, at_ms BIGINT NOT NULL, "
                                      "client TEXT NOT NULL, uid TEXT NOT NULL, name TEXT NOT NULL, "
                                      "mode INTEGER NOT NULL, score INTEGER NOT NULL, answer TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE best (mode INTEGER NOT NULL, board INTEGER NOT NULL, "
                           "period BIGINT NOT NULL, uid TEXT NOT NULL, name TEXT NOT NULL, "
                           "score INTEGER NOT NULL, reached_ms BIGINT NOT NULL, seq BIGINT NOT NULL, "
                           "PRIMARY KEY (mode, board, period, uid))"),
            // Board order, covering what a board shows, so the first rows are read from the index alone.
            QStringLiteral("CREATE INDEX best_order ON best (mode, board, period, score DESC, reached_ms, seq, "
                           "name, uid)"),
            // Rows of a board by score: ranks and shares without counting rows.
            QStringLiteral("CREATE TABLE score_count (mode INTEGER NOT NULL, board INTEGER NOT NULL, "
                           "period BIGINT NOT NULL, score INTEGER NOT NULL, n BIGINT NOT NULL, "
                           "PRIMARY KEY (mode, board, period, score))"),
            QStringLiteral("DELETE FROM schema_version"),
            QStringLiteral("INSERT INTO schema_version (version) VALUES (1)"),
        };
        for (const QString &statement : schema) {
            if (!query.exec(statement))
                return abandon(QStringLiteral("cannot create the schema"));
        }
    }
    if (version < 2) {
        // Version 2: what an operator does about cheaters. A removed entry
        // stays in the log, marked; a banned ID's entries are logged and
        // never placed.
        const QStringList schema = {
            QStringLiteral("ALTER TABLE entry_log ADD COLUMN removed INTEGER NOT NULL DEFAULT 0"),
            QStringLiteral("CREATE INDEX entry_log_uid ON entry_log (uid)"),
            QStringLiteral("CREATE TABLE banned (uid TEXT PRIMARY KEY, at_ms BIGINT NOT NULL)"),
            QStringLiteral("UPDATE schema_version SET version = 2"),
        };
        for (const QString &statement : schema) {
            if (!query.exec(statement))
                return abandon(QStringLiteral("cannot migrate the schema to version 2"));
        }
    }
    if (version < 3) {
        // Version 3: on PostgreSQL, the function that places a whole batch
        // of entries in one call. A change of its definition comes with a
        // version of its own, so that an older server never replaces a newer one.
        if (postgres && !query.exec(PostgresBatch::createFunction()))
            return abandon(QStringLiteral("cannot migrate the schema to version 3"));
        if (!query.exec(QStringLiteral("UPDATE schema_version SET version = 3")))
            return abandon(QStringLiteral("cannot migrate the schema to version 3"));
    }
    if (!db.commit()) {
        m_lastError = QStringLiteral("cannot commit the schema: ") + db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

namespace {

void bindAll(QSqlQuery &query, std::initializer_list<QVariant> values)
{
    int index = 0;
    for (const QVariant &value : values)
        query.bindValue(index++, value);
}

} // namespace

bool RankingStore::storeEntry(const PendingEntry &pending, qint64 seq, Cutoffs *cutoffs, EntryAnswer *answer)
{
    Statements &s = *m_statements;
    const RankingProtocol::Entry &entry = pending.entry;
    bindAll(s.bannedSelect, {entry.userId});
    if (!s.bannedSelect.exec())
        return fail(QStringLiteral("cannot read the banned IDs"), s.bannedSelect);
    const bool banned = s.bannedSelect.next();
    s.bannedSelect.finish();
    bool ranksIn = false;
    // A banned ID is told nothing but that it did not rank in.
    if (!banned && !placeEntry(pending, seq, cutoffs, &ranksIn))
        return false;

    *answer = ranksIn ? EntryAnswer::Ok : EntryAnswer::CannotRankIn;
    bindAll(s.logInsert, {seq, pending.atMs, pending.client, entry.userId, entry.name, entry.mode, entry.score,
                          QString::fromLatin1(ranksIn ? RankingProtocol::AnswerOk
                                                      : RankingProtocol::AnswerCannotRankIn)});
    if (!s.logInsert.exec())
        return fail(QStringLiteral("cannot log an entry"), s.logInsert);
    return true;
}

bool RankingStore::cutoff(int mode, int board, qint64 period, Cutoffs &cutoffs, int *score)
{
    const qint64 key = period * (RankingProtocol::ModeCount * BoardCount) + boardSlot(mode, Board(board));
    const auto known = cutoffs.constFind(key);
    if (known != cutoffs.cend()) {
        *score = known.value();
        return true;
    }
    Statements &s = *m_statements;
    bindAll(s.countFirst, {mode, board, period, m_top});
    if (!s.countFirst.exec())
        return fail(QStringLiteral("cannot read a board"), s.countFirst);
    // None while the first rows are not full: every score may rank in.
    *score = std::numeric_limits<int>::min();
    qint64 rows = 0;
    while (s.countFirst.next()) {
        rows += s.countFirst.value(1).toLongLong();
        if (rows >= m_top) {
            *score = s.countFirst.value(0).toInt();
            break;
        }
    }
    s.countFirst.finish();
    cutoffs.insert(key, *score);
    return true;
}

bool RankingStore::placeEntry(const PendingEntry &pending, qint64 seq, Cutoffs *cutoffs, bool *ranksInResult)
{
    Statements &s = *m_statements;
    const RankingProtocol::Entry &entry = pending.entry;
    bool ranksIn = false;
    for (Board board : AllBoards) {
        const qint64 period = periodKey(board, pending.atMs, m_zone);
        const int boardNumber = int(board);
        // Tried as a new row first: most entries on a board are a player's first there.
        bindAll(s.bestInsert, {entry.mode, boardNumber, period, entry.userId, entry.name, entry.score,
                               pending.atMs, seq});
        if (!s.bestInsert.exec())
            return fail(QStringLiteral("cannot add to a board"), s.bestInsert);
        const bool added = s.bestInsert.numRowsAffected() > 0;
        int oldScore = -1;
        if (added) {
            bindAll(s.countAdd, {entry.mode, boardNumber, period, entry.score, 1});
            if (!s.countAdd.exec())
                return fail(QStringLiteral("cannot count a board"), s.countAdd);
        } else {
            bindAll(s.bestSelect, {entry.mode, boardNumber, period, entry.userId});
            if (!s.bestSelect.exec() || !s.bestSelect.next())
                return fail(QStringLiteral("cannot read a board"), s.bestSelect);
            oldScore = s.bestSelect.value(0).toInt();
            s.bestSelect.finish();
            if (oldScore < entry.score) {
                bindAll(s.bestUpdate, {entry.name, entry.score, pending.atMs, seq, entry.mode, boardNumber, period,
                                       entry.userId});
                if (!s.bestUpdate.exec())
                    return fail(QStringLiteral("cannot update a board"), s.bestUpdate);
                bindAll(s.countAdd, {entry.mode, boardNumber, period, oldScore, -1});
                if (!s.countAdd.exec())
                    return fail(QStringLiteral("cannot count a board"), s.countAdd);
                bindAll(s.countAdd, {entry.mode, boardNumber, period, entry.score, 1});
                if (!s.countAdd.exec())
                    return fail(QStringLiteral("cannot count a board"), s.countAdd);
            } else if (oldScore > entry.score) {
                // This score is not the row's: it cannot stand on this board.
                continue;
            }
        }
        if (ranksIn)
            continue;
        if (cutoffs) {
            // Below the score at which the first rows are full: not ranked.
            int lowest = 0;
            if (!cutoff(entry.mode, boardNumber, period, *cutoffs, &lowest))
                return false;
            if (entry.score < lowest)
                continue;
        }
        qint64 reachedMs = pending.atMs;
        qint64 rowSeq = seq;
        if (oldScore == entry.score) {
            // An equal score: the row stays as it was, first reached earlier.
            bindAll(s.visitorRow, {entry.mode, boardNumber, period, entry.userId});
            if (!s.visitorRow.exec() || !s.visitorRow.next())
                return fail(QStringLiteral("cannot read a board"), s.visitorRow);
            reachedMs = s.visitorRow.value(2).toLongLong();
            rowSeq = s.visitorRow.value(3).toLongLong();
            s.visitorRow.finish();
        }

        bindAll(s.countHigher, {entry.mode, boardNumber, period, entry.score});
        if (!s.countHigher.exec() || !s.countHigher.next())
            return fail(QStringLiteral("cannot rank an entry"), s.countHigher);
        const qint64 higher = s.countHigher.value(0).toLongLong();
        s.countHigher.finish();
        if (higher >= m_top)
            continue;
        bindAll(s.countEqualBefore, {entry.mode, boardNumber, period, entry.score, reachedMs, reachedMs, rowSeq,
                                     m_top});
        if (!s.countEqualBefore.exec() || !s.countEqualBefore.next())
            return fail(QStringLiteral("cannot rank an entry"), s.countEqualBefore);
        const qint64 equalBefore = s.countEqualBefore.value(0).toLongLong();
        s.countEqualBefore.finish();
        ranksIn = higher + equalBefore < m_top;
    }
    *ranksInResult = ranksIn;
    return true;
}

bool RankingStore::runTransaction(const QList<PendingEntry> &entries, QList<EntryAnswer> *answers)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    m_lastSqlState.clear();
    // IMMEDIATE: the write lock from the start, so that the log's last
    // number read below is still the last when the lines are written.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        m_lastError = QStringLiteral("cannot begin a transaction: ") + begin.lastError().text();
        return false;
    }
    Statements &s = *m_statements;
    if (!s.logLast.exec() || !s.logLast.next()) {
        fail(QStringLiteral("cannot read the log"), s.logLast);
        rollback(db);
        return false;
    }
    qint64 seq = s.logLast.value(0).toLongLong();
    s.logLast.finish();
    Cutoffs cutoffs;
    answers->clear();
    answers->reserve(entries.size());
    for (const PendingEntry &pending : entries) {
        EntryAnswer answer = EntryAnswer::CannotRankIn;
        if (!storeEntry(pending, ++seq, &cutoffs, &answer)) {
            rollback(db);
            return false;
        }
        answers->append(answer);
    }
    // Past the deadline the players are told of an error, so nothing may be committed.
    if (!m_watchdog->beginCommit(m_config.deadlineMs)) {
        m_lastError = QStringLiteral("the entries could not be stored within %1 ms").arg(m_config.deadlineMs);
        rollback(db);
        return false;
    }
    if (!db.commit()) {
        m_lastError = QStringLiteral("cannot commit: ") + db.lastError().text();
        rollback(db);
        return false;
    }
    return true;
}

bool RankingStore::runBatch(const QList<PendingEntry> &entries, QDeadlineTimer deadline, QList<EntryAnswer> *answers)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    m_lastSqlState.clear();
    if (m_serverClockRead.hasExpired() && !measureServerClock(db))
        return false;
    QList<qint64> atMs, modes, scores, today, week;
    QStringList clients, userIds, names;
    for (const PendingEntry &pending : entries) {
        atMs.append(pending.atMs);
        clients.append(pending.client);
        userIds.append(pending.entry.userId);
        names.append(pending.entry.name);
        modes.append(pending.entry.mode);
        scores.append(pending.entry.score);
        // The periods are the C++ ones, so that the zone's rules live in one place.
        today.append(periodKey(Board::Today, pending.atMs, m_zone));
        week.append(periodKey(Board::Week, pending.atMs, m_zone));
    }
    // The statement commits as it ends; the function checks the deadline
    // before, and leaves the commit a quarter of the deadline (up to a second)
    // to end within it.
    QVariant serverDeadline{QMetaType(QMetaType::LongLong)};
    if (!deadline.isForever()) {
        const qint64 commitMs = std::min<qint64>(m_config.deadlineMs / 4, 1000);
        serverDeadline = QDateTime::currentMSecsSinceEpoch() + deadline.remainingTime() - commitMs
                         + m_serverClockAheadMs;
    }
    QSqlQuery &call = m_statements->batchSubmit;
    bindAll(call, {PostgresBatch::numberArray(atMs), PostgresBatch::textArray(clients),
                   PostgresBatch::textArray(userIds), PostgresBatch::textArray(names),
                   PostgresBatch::numberArray(modes), PostgresBatch::numberArray(scores),
                   PostgresBatch::numberArray(today), PostgresBatch::numberArray(week), m_top, serverDeadline});
    // A cut from here on may come after the commit: the statement carries it.
    if (!m_watchdog->beginCommit(0)) {
        m_lastError = QStringLiteral("the entries could not be stored within %1 ms").arg(m_config.deadlineMs);
        return false;
    }
    if (!call.exec() || !call.next()) {
        fail(QStringLiteral("cannot store the entries"), call);
        if (m_lastSqlState == QLatin1String(PostgresBatch::DeadlinePassed))
            m_lastError = QStringLiteral("the entries could not be stored within %1 ms").arg(m_config.deadlineMs);
        return false;
    }
    const QString text = call.value(0).toString();
    call.finish();
    const std::optional<QList<bool>> ranked = PostgresBatch::parseAnswers(text, entries.size());
    if (!ranked) {
        // Committed, but with answers that cannot be trusted: told as an error.
        m_lastError = QStringLiteral("the database answered the entries with %1").arg(text.left(100));
        return false;
    }
    answers->clear();
    for (bool in : *ranked)
        answers->append(in ? EntryAnswer::Ok : EntryAnswer::CannotRankIn);
    return true;
}

std::optional<QList<EntryAnswer>> RankingStore::submit(const QList<PendingEntry> &entries, QDeadlineTimer deadline)
{
    constexpr int Attempts = 5;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (!ensureOpen())
            return std::nullopt;
        if (checkFiles() != Files::Intact) {
            close();
            return std::nullopt;
        }
        armDeadline(deadline);
        QList<EntryAnswer> answers;
        const bool committed = isPostgres(m_config) ? runBatch(entries, deadline, &answers)
                                                    : runTransaction(entries, &answers);
        // A COMMIT that was answered stands, even if the cut came just after.
        const bool cut = disarmDeadline();
        if (committed) {
            m_cache.clear();
            // Committed into a file that the next start would not open: as good as lost.
            const Files files = checkFiles();
            if (files != Files::Intact)
                close();
            if (files == Files::Lost)
                return std::nullopt;
            return answers;
        }
        if (cut)
            return std::nullopt;
        if (!isRetryable(m_lastSqlState) || deadline.hasExpired()) {
            // The connection may be gone; open it again on the next call.
            // One that refused a batch past its deadline is well, and kept.
            if (m_lastSqlState != QLatin1String(PostgresBatch::DeadlinePassed))
                close();
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool RankingStore::armDeadline(QDeadlineTimer deadline)
{
    if (!m_statements)
        return false;
    const QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    std::function<void()> cut;
    if (PGconn *connection = nativeHandle<PGconn>(db, {"PGconn*", "pg_conn*"})) {
        // Ends a read or write that waits on the socket; the connection is
        // then closed by its own thread. A backend that resumes later finds
        // no client, and a transaction without its COMMIT is rolled back.
        const int socket = PQsocket(connection);
        cut = [socket] { ::shutdown(socket, SHUT_RDWR); };
    } else if (sqlite3 *handle = nativeHandle<sqlite3>(db, {"sqlite3*"})) {
        // Waiting for another process's lock ends with the time left.
        const qint64 left = deadline.isForever() ? m_config.deadlineMs : deadline.remainingTime();
        sqlite3_busy_timeout(handle, int(std::clamp<qint64>(left, 1, m_config.deadlineMs)));
        cut = [handle] { sqlite3_interrupt(handle); };
    } else {
        return false;
    }
    m_cutBeforeClose = Watchdog::Cut::None;
    m_watchdog->arm(deadline, std::move(cut));
    return true;
}

bool RankingStore::disarmDeadline()
{
    Watchdog::Cut cut = m_watchdog->disarm();
    if (cut == Watchdog::Cut::None)
        cut = m_cutBeforeClose;
    m_cutBeforeClose = Watchdog::Cut::None;
    if (cut == Watchdog::Cut::None)
        return false;
    m_lastError = QStringLiteral("no answer within %1 ms, the connection was dropped%2 (%3)")
                      .arg(m_config.deadlineMs)
                      .arg(cut == Watchdog::Cut::DuringCommit
                               ? QStringLiteral(" while COMMIT was on its way: those entries may have been stored")
                               : QString())
                      .arg(m_lastError);
    close();
    return true;
}

RankingStore::FileId RankingStore::fileId(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {quint64(info.st_dev), quint64(info.st_ino)};
}

void RankingStore::rememberFiles()
{
    if (isPostgres(m_config))
        return;
    m_databaseFile = fileId(m_config.sqlitePath);
    m_logFile = fileId(m_config.sqlitePath + QStringLiteral("-wal"));
}

RankingStore::Files RankingStore::checkFiles()
{
    if (isPostgres(m_config) || m_databaseFile.inode == 0)
        return Files::Intact;
    const QString &path = m_config.sqlitePath;
    const bool databaseKept = fileId(path) == m_databaseFile;
    if (databaseKept && (m_logFile.inode == 0 || fileId(path + QStringLiteral("-wal")) == m_logFile))
        return Files::Intact;
    Files outcome = Files::Lost;
    if (!databaseKept) {
        m_filesLost = QStringLiteral("%1 was deleted or replaced under the running server; entries are refused "
                                     "until it is restored and the server restarted")
                          .arg(path);
    } else {
        // Only the log is gone: what it holds goes into the database file,
        // which is still the one at its path, and the next start finds it.
        QSqlQuery checkpoint(QSqlDatabase::database(m_connectionName, false));
        if (checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(FULL)")) && checkpoint.next()
            && checkpoint.value(0).toInt() == 0 && checkpoint.value(1) == checkpoint.value(2)) {
            outcome = Files::LogRescued;
            m_filesLost = QStringLiteral("%1-wal was deleted under the running server; what it held was saved "
                                         "into %1, and entries are refused until the server is restarted")
                              .arg(path);
        } else {
            m_filesLost = QStringLiteral("%1-wal was deleted under the running server and its last entries could "
                                         "not be saved into %1 (%2); entries are refused until the server is "
                                         "restarted")
                              .arg(path, checkpoint.lastError().text());
        }
    }
    m_lastError = m_filesLost;
    return outcome;
}

bool RankingStore::ping()
{
    if (!ensureOpen())
        return false;
    if (checkFiles() != Files::Intact) {
        close();
        return false;
    }
    bool answered = false;
    {
        // Gone before the connection may be closed.
        QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
        answered = query.exec(QStringLiteral("SELECT 1")) && query.next();
        if (!answered)
            fail(QStringLiteral("the database does not answer"), query);
    }
    if (!answered)
        close();
    return answered;
}

std::optional<BoardView> RankingStore::board(int mode, Board board, const QString &visitorId, qint64 nowMs)
{
    if (!ensureOpen())
        return std::nullopt;
    Statements &s = *m_statements;
    const qint64 period = periodKey(board, nowMs, m_zone);
    const int boardNumber = int(board);

    if (!isPostgres(m_config) && !checkDataVersion())
        return std::nullopt;

    BoardView view;
    view.mode = mode;
    view.board = board;
    const QString key = cacheKey(mode, boardNumber, period);
    const auto cached = m_cache.constFind(key);
    if (cached != m_cache.cend()) {
        view.rows = cached->rows;
        view.total = cached->total;
    } else {
        bindAll(s.topRows, {mode, boardNumber, period, m_top});
        if (!s.topRows.exec())
            return readFailed(QStringLiteral("cannot read a board"), s.topRows);
        while (s.topRows.next()) {
            BoardRow row;
            row.name = s.topRows.value(0).toString();
            row.userId = s.topRows.value(1).toString();
            row.score = s.topRows.value(2).toInt();
            row.reachedMs = s.topRows.value(3).toLongLong();
            view.rows.append(row);
        }
        s.topRows.finish();
        assignRanks(view.rows);

        const std::optional<qint64> total = readTotal(mode, boardNumber, period);
        if (!total)
            return std::nullopt;
        view.total = *total;
        if (!isPostgres(m_config)) {
            if (m_cache.size() > 64)
                m_cache.clear();
            m_cache.insert(key, CachedBoard{view.rows, view.total});
        }
    }
    bool visitorShown = false;
    for (const BoardRow &row : std::as_const(view.rows))
        visitorShown = visitorShown || (!visitorId.isEmpty() && row.userId == visitorId);
    if (!visitorId.isEmpty() && !visitorShown) {
        const std::optional<VisitorStanding> own = standing(mode, board, visitorId, nowMs);
        if (!own)
            return std::nullopt;
        view.visitorBelow = own->row;
    }
    return view;
}

std::optional<VisitorStanding> RankingStore::standing(int mode, Board board, const QString &visitorId,
                                                      qint64 nowMs)
{
    if (!ensureOpen())
        return std::nullopt;
    Statements &s = *m_statements;
    const qint64 period = periodKey(board, nowMs, m_zone);
    const int boardNumber = int(board);
    VisitorStanding own;
    bindAll(s.visitorRow, {mode, boardNumber, period, visitorId});
    if (!s.visitorRow.exec())
        return readFailed(QStringLiteral("cannot read a board"), s.visitorRow);
    if (s.visitorRow.next()) {
        BoardRow row;
        row.name = s.visitorRow.value(0).toString();
        row.userId = visitorId;
        row.score = s.visitorRow.value(1).toInt();
        row.reachedMs = s.visitorRow.value(2).toLongLong();
        s.visitorRow.finish();
        bindAll(s.countHigher, {mode, boardNumber, period, row.score});
        if (!s.countHigher.exec() || !s.countHigher.next())
            return readFailed(QStringLiteral("cannot rank a row"), s.countHigher);
        row.rank = int(s.countHigher.value(0).toLongLong() + 1);
        s.countHigher.finish();
        own.row = row;
    }
    s.visitorRow.finish();
    const auto cached = m_cache.constFind(cacheKey(mode, boardNumber, period));
    if (cached != m_cache.cend()) {
        own.total = cached->total;
    } else {
        const std::optional<qint64> total = readTotal(mode, boardNumber, period);
        if (!total)
            return std::nullopt;
        own.total = *total;
    }
    return own;
}

std::optional<QList<BoardView>> RankingStore::firstRows(qint64 nowMs)
{
    if (!ensureOpen())
        return std::nullopt;
    QList<BoardView> views;
    if (!isPostgres(m_config)) {
        for (int mode = 0; mode < RankingProtocol::ModeCount; ++mode) {
            for (Board board : AllBoards) {
                std::optional<BoardView> view = this->board(mode, board, QString(), nowMs);
                if (!view)
                    return std::nullopt;
                views.append(*view);
            }
        }
        return views;
    }
    Statements &s = *m_statements;
    for (int mode = 0; mode < RankingProtocol::ModeCount; ++mode) {
        for (Board board : AllBoards) {
            views.append(BoardView{mode, board, {}, std::nullopt, 0});
            s.allFirstRows.addBindValue(periodKey(board, nowMs, m_zone));
            s.allFirstRows.addBindValue(m_top);
        }
    }
    if (!s.allFirstRows.exec())
        return readFailed(QStringLiteral("cannot read the boards"), s.allFirstRows);
    struct Ordered
    {
        int slot;
        qint64 seq;
        BoardRow row;
    };
    QList<Ordered> rows;
    while (s.allFirstRows.next()) {
        const int slot = s.allFirstRows.value(0).toInt();
        if (slot < 0 || slot >= views.size())
            continue;
        BoardRow row;
        row.name = s.allFirstRows.value(1).toString();
        row.userId = s.allFirstRows.value(2).toString();
        row.score = s.allFirstRows.value(3).toInt();
        row.reachedMs = s.allFirstRows.value(4).toLongLong();
        rows.append({slot, s.allFirstRows.value(5).toLongLong(), row});
    }
    s.allFirstRows.finish();
    // A union keeps no order of its own.
    std::sort(rows.begin(), rows.end(), [](const Ordered &a, const Ordered &b) {
        return std::tuple(a.slot, -a.row.score, a.row.reachedMs, a.seq)
               < std::tuple(b.slot, -b.row.score, b.row.reachedMs, b.seq);
    });
    for (const Ordered &each : std::as_const(rows))
        views[each.slot].rows.append(each.row);
    for (BoardView &view : views)
        assignRanks(view.rows);
    return views;
}

QString RankingStore::cacheKey(int mode, int board, qint64 period)
{
    return QStringLiteral("%1/%2/%3").arg(mode).arg(board).arg(period);
}

std::optional<qint64> RankingStore::readTotal(int mode, int board, qint64 period)
{
    Statements &s = *m_statements;
    bindAll(s.countTotal, {mode, board, period});
    if (!s.countTotal.exec() || !s.countTotal.next())
        return readFailed(QStringLiteral("cannot count a board"), s.countTotal);
    const qint64 total = s.countTotal.value(0).toLongLong();
    s.countTotal.finish();
    return total;
}

std::optional<QList<VisitorStanding>> RankingStore::standings(const QString &visitorId, qint64 nowMs,
                                                              unsigned wanted)
{
    if (!ensureOpen())
        return std::nullopt;
    if (!isPostgres(m_config)) {
        if (!checkDataVersion())
            return std::nullopt;
        QList<VisitorStanding> all(RankingProtocol::ModeCount * BoardCount);
        for (int i = 0; i < all.size(); ++i) {
            if (!(wanted & (1u << i)))
                continue;
            std::optional<VisitorStanding> own = standing(i / BoardCount, AllBoards[i % BoardCount], visitorId, nowMs);
            if (!own)
                return std::nullopt;
            all[i] = *own;
        }
        return all;
    }
    Statements &s = *m_statements;
    const qint64 today = periodKey(Board::Today, nowMs, m_zone);
    const qint64 week = periodKey(Board::Week, nowMs, m_zone);
    bindAll(s.visitorRows, {today, week, today, week, visitorId});
    if (!s.visitorRows.exec())
        return readFailed(QStringLiteral("cannot read a board"), s.visitorRows);
    static_assert(RankingProtocol::ModeCount == 2, "the statement names modes 0 and 1");
    QList<VisitorStanding> all(RankingProtocol::ModeCount * BoardCount);
    int read = 0;
    while (s.visitorRows.next()) {
        const int mode = s.visitorRows.value(0).toInt();
        const int board = s.visitorRows.value(1).toInt();
        if (mode < 0 || mode >= RankingProtocol::ModeCount || board < 0 || board >= BoardCount)
            continue;
        ++read;
        if (!(wanted & (1u << boardSlot(mode, Board(board)))))
            continue;
        VisitorStanding &own = all[boardSlot(mode, Board(board))];
        own.total = s.visitorRows.value(6).toLongLong();
        if (!s.visitorRows.isNull(2)) {
            BoardRow row;
            row.name = s.visitorRows.value(2).toString();
            row.userId = visitorId;
            row.score = s.visitorRows.value(3).toInt();
            row.reachedMs = s.visitorRows.value(4).toLongLong();
            row.rank = int(s.visitorRows.value(5).toLongLong() + 1);
            own.row = row;
        }
    }
    s.visitorRows.finish();
    if (read != all.size())
        return readFailed(QStringLiteral("cannot read the boards"), s.visitorRows);
    return all;
}

bool RankingStore::checkDataVersion()
{
    Statements &s = *m_statements;
    if (checkFiles() != Files::Intact) {
        close();
        return false;
    }
    if (!s.dataVersion.exec() || !s.dataVersion.next()) {
        fail(QStringLiteral("cannot read the data version"), s.dataVersion);
        close();
        return false;
    }
    const qint64 version = s.dataVersion.value(0).toLongLong();
    s.dataVersion.finish();
    if (version != m_dataVersion) {
        const bool first = m_dataVersion < 0;
        m_cache.clear();
        m_dataVersion = version;
        // Another connection committed: this process's writer or another
        // process, which may have changed any row.
        if (!first && m_changeListener)
            m_changeListener(true);
    }
    return true;
}

void RankingStore::pollChanges()
{
    if (!m_statements)
        return;
    if (!isPostgres(m_config)) {
        checkDataVersion();
        return;
    }
    PGconn *connection = nativeHandle<PGconn>(QSqlDatabase::database(m_connectionName, false),
                                              {"PGconn*", "pg_conn*"});
    if (!connection)
        return;
    // Reads what the socket holds without waiting; notifications that came
    // with the answer to a query are queued in libpq already.
    if (PQconsumeInput(connection) == 0) {
        m_lastError = QString::fromUtf8(PQerrorMessage(connection)).simplified();
        close();
        return;
    }
    bool any = false;
    bool rows = false;
    while (PGnotify *notice = PQnotifies(connection)) {
        any = true;
        rows = rows || std::strcmp(notice->extra, PostgresBatch::TotalsChanged) != 0;
        PQfreemem(notice);
    }
    if (any && m_changeListener)
        m_changeListener(rows);
}

std::nullopt_t RankingStore::readFailed(const QString &what, const QSqlQuery &query)
{
    fail(what, query);
    close();
    return std::nullopt;
}
